// Import and export of whole folders between the open collection and another collection file:
// import copies a folder of the other file, with everything below it, into the current folder;
// export copies the current folder into a chosen folder of the other file (created when the file
// does not exist); sending by mail exports the current folder into a fresh file.

var cixImport = 1;
var cixExport = 2;
var cixSendByMail = 3;

var L_INVALID_MODE = "Invalid mode selected.";
var L_LOAD_FAILED = "Failed to load file.";
var L_ADD_FOLDER_FAILED = "Failed to add folder to database.";

function fnImport()
{
    fnPerformImportExport(cixImport);
}

function fnExport()
{
    fnPerformImportExport(cixExport);
}

// Copies the folder oSrcNode of oSrcBase as the new last child of oDestNode in oDestBase: a new
// folder with the source's name only, then its fragments (in document order), then its
// subfolders the same way; new UINs come from the destination's counter in that order.
function fnAddNodeData(oDestBase, oDestNode, oSrcBase, oSrcNode, bRecursive)
{
    var oFolder = oDestBase.createElement(cxbiNODE);
    oFolder.setAttribute(cxbiAttUIN, fnCreateNewUIN(oDestBase));
    oFolder.setAttribute(cxbiAttName, oSrcNode.getAttribute(cxbiAttName) || "");
    oFolder.appendChild(oDestBase.createTextNode("\n\t"));
    oDestNode.appendChild(oFolder);
    var aFolders = [];
    for (var oChild = oSrcNode.firstChild; oChild; oChild = oChild.nextSibling) {
        if (oChild.nodeType != 1)
            continue;
        if (oChild.nodeName == cxbiNODE) {
            aFolders.push(oChild);
        } else if (oChild.nodeName == cxbiFRAGMENT) {
            var oFragment = oDestBase.createElement(cxbiFRAGMENT);
            oFragment.setAttribute(cxbiAttUIN, fnCreateNewUIN(oDestBase));
            var aCopied = [cxbiAttName, cxbiAttComment, cxbiAttText, cxbiAttURL];
            for (var i = 0; i < aCopied.length; i++)
                oFragment.setAttribute(aCopied[i], oChild.getAttribute(aCopied[i]) || "");
            if (oChild.getAttribute(cxbiAttDate) !== null)
                oFragment.setAttribute(cxbiAttDate, oChild.getAttribute(cxbiAttDate));
            oFolder.appendChild(oFragment);
        }
    }
    for (var j = 0; bRecursive && j < aFolders.length; j++) {
        if (!fnAddNodeData(oDestBase, oFolder, oSrcBase, aFolders[j], true))
            return false;
    }
    return true;
}

function fnReportExchangeError(e)
{
    if (!e)
        return;
    if (typeof e == "string")
        alert(e);
    else if (e.viewerMessage)
        alert(e.viewerMessage);
    else
        fnReportCommandError(e);
}

// Reads the other file into oExternal. True when it is a collection. Before the user chooses a
// folder the file is locked for the read only; under the change's locks (bLockHeld) it is read
// again as it is then.
function fnReadExternalFile(oHelper, oExternal, sPath, nMode, bLockHeld)
{
    if (!bLockHeld) {
        try {
            oHelper.LockFile(sPath);
        } catch (e) {
            alert(L_LOCK_FAILED);
            return false;
        }
    }
    var bRead = false;
    try {
        if (nMode == cixImport)
            bRead = fnLoadCollectionFile(oExternal, sPath) && !!oExternal.selectSingleNode("/" + cxbiRoot + "/" + cxbiDatabase);
        else
            bRead = fnCheckedInitializeFile(oExternal, sPath);
    } catch (e) {
        bRead = false;
    } finally {
        if (!bLockHeld)
            fnUnlockQuietly(oHelper, sPath);
    }
    if (!bRead)
        alert(L_LOAD_FAILED);
    return bRead;
}

// The other file chosen for the mode; null when the user cancelled or the mode is unknown.
function fnChooseExchangeFile(nMode, sFilePath)
{
    var oBrowser = fnGetBrowserObject();
    if (nMode == cixImport) {
        if (!fnBrowseForFile(gsCurrentPath, L_Import_Dialog_Title, L_QUILLET_EXT, L_QUILLET_FILTER, false, true, true))
            return null;
    } else if (nMode == cixExport) {
        if (!fnBrowseForFile(gsCurrentPath, L_Export_Dialog_Title))
            return null;
    } else if (nMode == cixSendByMail) {
        oBrowser.FileName = sFilePath;
    } else {
        alert(L_INVALID_MODE);
        return null;
    }
    return String(oBrowser.FileName);
}

// The other file's document, ready for the copy: read (a copy of the open collection when the
// other file is the open one), in the current format, every element with a UIN; for mail without
// the system folder that reading a new file made, else with a current folder that exists. The
// first read asks before converting an older format; the read under the change's locks does not
// ask again. Null after telling the user.
function fnReadExchangeDocument(oExchange, bUnderLocks)
{
    var oExternal = fnCreateXMLctl();
    if (!oExternal) {
        alert(L_XML_CONTROL_FAILED);
        return null;
    }
    if (oExchange.bInternal) {
        if (!oExternal.loadXML(goBase.xml)) {
            alert(L_LOAD_FAILED);
            return null;
        }
    } else if (!fnReadExternalFile(fnGetHelperObject(), oExternal, oExchange.sPath, oExchange.nMode, bUnderLocks)) {
        return null;
    }
    if (!fnCheckVersion(oExternal) && !((bUnderLocks || fnConfirmConversion(oExternal)) && fnPerformConversion(oExternal)))
        return null;
    fnMendUINCounter(oExternal);
    fnGiveMissingUINs(oExternal, false);
    var oRoot = fnGetDatabaseElement(oExternal);
    if (oExchange.nMode == cixSendByMail) {
        var oUnsorted = oRoot.selectSingleNode(cxbiNODE + "[@" + cxbiAttUnsorted + "]");
        if (oUnsorted)
            oRoot.removeChild(oUnsorted);
    } else {
        var nCurrent = parseInt(oRoot.getAttribute(cxbiAttCurrentNode), 10);
        if (isNaN(nCurrent) || !fnFindElementByUIN(oExternal, String(nCurrent)))
            oRoot.setAttribute(cxbiAttCurrentNode, oRoot.getAttribute(cxbiAttUIN));
    }
    return oExternal;
}

// The viewer tree's current folder.
function fnExchangeCurrentFolder()
{
    try {
        return String(fnGetFolderTreeUIN());
    } catch (e) {
        return String(goCurrentFolderUIN);
    }
}

// The UIN of the other file's folder: the one the user chooses (the source of an import, the
// target of an export), or for mail the root folder. Null when the user cancelled or the tree
// could not be shown.
function fnChooseExchangeFolder(oExchange, oExternal)
{
    if (oExchange.nMode == cixSendByMail)
        return fnGetDatabaseElement(oExternal).getAttribute(cxbiAttUIN);
    var sTree = fnRenderFolderTree(oExternal);
    if (!sTree) {
        alert(L_TRANSFORM_FAILED);
        return null;
    }
    var oChoice = window.showModalDialog("ktMoveToFolder.htm", {
        XMLbase: goBase,
        TreeHTML: sTree,
        nDialogMode: oExchange.nMode == cixImport ? cmtfFolderImport : cmtfFolderExport,
        sourceFolder: null,
        internalDB: goBase,
        externalDB: oExternal,
        internalFolder: fnExchangeCurrentFolder(),
    }, "help:no; resizable:no; status:no;");
    if (!oChoice || oChoice.oFolder === null || oChoice.oFolder === undefined || oChoice.oFolder === "")
        return null;
    return String(oChoice.oFolder);
}

// Takes the locks of the change: the open collection's (through the change check, which reloads
// it when another program changed it) and the other file's. False, with every lock released,
// when one cannot be taken.
function fnLockForExchange(oExchange)
{
    if (fnPrepareToChangeDatabase() == ktfFailure)
        return false;
    oExchange.bCurrentLocked = true;
    if (oExchange.bInternal)
        return true;
    try {
        fnGetHelperObject().LockFile(oExchange.sPath);
        oExchange.bExternalLocked = true;
        return true;
    } catch (e) {
        fnReleaseExchange(oExchange);
        alert(L_LOCK_FAILED);
        return false;
    }
}

// Releases the locks the exchange still holds.
function fnReleaseExchange(oExchange)
{
    var oHelper = fnGetHelperObject();
    if (oExchange.bExternalLocked)
        fnUnlockQuietly(oHelper, oExchange.sPath);
    if (oExchange.bCurrentLocked)
        fnUnlockQuietly(oHelper, gsCurrentPath);
    oExchange.bExternalLocked = oExchange.bCurrentLocked = false;
}

// Copies the other file's folder oSource under oTarget, the current folder of oWork (a copy of the
// open collection), and saves the open collection with it. False when the save failed: it was
// told, and the import stays in memory for the next save, so nothing is reloaded over it.
function fnImportFolder(oExchange, oWork, oTarget, oExternal, oSource)
{
    if (!fnAddNodeData(oWork, oTarget, oExternal, oSource, true))
        throw L_ADD_FOLDER_FAILED;
    oExchange.sPrevious = goBase.xml;
    if (!goBase.loadXML(oWork.xml))
        throw L_ADD_FOLDER_FAILED;
    oExchange.bCurrentLocked = false; // the save releases it
    var bSaved = fnSaveChangedDatabase() !== false;
    fnReleaseExchange(oExchange);
    if (!bSaved)
        return false;
    fnLoadFile(gsCurrentPath);
    return true;
}

// Copies oSource, the current folder of oWork (a copy of the open collection), under oTarget of
// the other file's document, and saves that file; the open collection is reloaded when it is that
// file, and is not changed otherwise.
function fnExportFolder(oExchange, oWork, oSource, oExternal, oTarget)
{
    if (!fnAddNodeData(oExternal, oTarget, oWork, oSource, true))
        throw L_ADD_FOLDER_FAILED;
    if (oExchange.nMode == cixSendByMail) {
        var oCopy = fnGetDatabaseElement(oExternal).selectSingleNode(cxbiNODE);
        if (oCopy)
            oCopy.setAttribute(cxbiAttUnsorted, "1");
    }
    fnIncrementTimeStamp(oExternal);
    oExternal.save(oExchange.sPath);
    fnGetHelperObject().DoSendChangeNotification(oExchange.sPath, -1);
    fnReleaseExchange(oExchange);
    if (oExchange.bInternal)
        fnLoadFile(gsCurrentPath);
    return true;
}

// True when the copy was saved; false otherwise (a cancel included). sFilePath is the target of
// a mail export. The user chooses from the other file as it was read; the copy is made under the
// locks of both files from what they hold then, so that a change another program made to either
// meanwhile is kept.
function fnPerformImportExport(nMode, sFilePath)
{
    if (!gbCollectionOpen)
        return false;
    var sExternal = fnChooseExchangeFile(nMode, sFilePath);
    if (sExternal === null)
        return false;
    var bInternal = fnSamePath(sExternal, gsCurrentPath);
    var oExchange = { nMode: nMode, sPath: bInternal ? gsCurrentPath : sExternal, bInternal: bInternal,
                      bCurrentLocked: false, bExternalLocked: false, sPrevious: null };
    var oExternal = fnReadExchangeDocument(oExchange, false);
    if (!oExternal)
        return false;
    var sExternalFolder = fnChooseExchangeFolder(oExchange, oExternal);
    if (sExternalFolder === null || !fnLockForExchange(oExchange))
        return false;
    try {
        oExternal = fnReadExchangeDocument(oExchange, true);
        if (!oExternal) {
            fnReleaseExchange(oExchange);
            return false;
        }
        if (nMode == cixSendByMail)
            sExternalFolder = fnGetDatabaseElement(oExternal).getAttribute(cxbiAttUIN);
        var oWork = fnCreateXMLctl();
        if (!oWork || !oWork.loadXML(goBase.xml))
            throw L_XML_CONTROL_FAILED;
        var oExternalNode = fnFindFolderByUIN(oExternal, sExternalFolder);
        var oCurrentNode = fnFindFolderByUIN(oWork, fnExchangeCurrentFolder());
        if (!oExternalNode || !oCurrentNode)
            throw L_FOLDER_NOT_FOUND;
        if (nMode == cixImport)
            return fnImportFolder(oExchange, oWork, oCurrentNode, oExternal, oExternalNode);
        return fnExportFolder(oExchange, oWork, oCurrentNode, oExternal, oExternalNode);
    } catch (e) {
        // Everything as it was: the open collection, and no lock left.
        if (oExchange.sPrevious !== null)
            goBase.loadXML(oExchange.sPrevious);
        fnReleaseExchange(oExchange);
        fnReportExchangeError(e);
        return false;
    }
}
