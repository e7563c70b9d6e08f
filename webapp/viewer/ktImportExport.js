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
        alert(L_OPERATION_FAILED + (e.description || e.message));
}

// Reads the other file into oExternal under its lock (released again before the user chooses a
// folder). True when it is a collection.
function fnReadExternalFile(oHelper, oExternal, sPath, nMode)
{
    try {
        oHelper.LockFile(sPath);
    } catch (e) {
        alert(L_LOCK_FAILED);
        return false;
    }
    var bRead = false;
    try {
        if (nMode == cixImport)
            bRead = oExternal.load(sPath) && !!oExternal.selectSingleNode("/" + cxbiRoot + "/" + cxbiDatabase);
        else
            bRead = fnCheckedInitializeFile(oExternal, sPath);
    } catch (e) {
        bRead = false;
    } finally {
        fnUnlockQuietly(oHelper, sPath);
    }
    if (!bRead)
        alert(L_LOAD_FAILED);
    return bRead;
}

// True when the copy was saved; false otherwise (a cancel included). sFilePath is the target of
// a mail export.
function fnPerformImportExport(nMode, sFilePath)
{
    var oHelper = fnGetHelperObject();
    var oBrowser = fnGetBrowserObject();
    if (!gbCollectionOpen)
        return false;
    // 1. The other file.
    if (nMode == cixImport) {
        if (!fnBrowseForFile(gsCurrentPath, L_Import_Dialog_Title, L_QUILLET_EXT, L_QUILLET_FILTER, false, true, true))
            return false;
    } else if (nMode == cixExport) {
        if (!fnBrowseForFile(gsCurrentPath, L_Export_Dialog_Title))
            return false;
    } else if (nMode == cixSendByMail) {
        oBrowser.FileName = sFilePath;
    } else {
        alert(L_INVALID_MODE);
        return false;
    }
    var sExternal = String(oBrowser.FileName);
    var bInternal = fnSamePath(sExternal, gsCurrentPath);
    if (bInternal)
        sExternal = gsCurrentPath;
    // 2, 3. Its document.
    var oExternal = fnCreateXMLctl();
    if (!oExternal) {
        alert(L_XML_CONTROL_FAILED);
        return false;
    }
    if (bInternal) {
        if (!oExternal.loadXML(goBase.xml)) {
            alert(L_LOAD_FAILED);
            return false;
        }
    } else if (!fnReadExternalFile(oHelper, oExternal, sExternal, nMode)) {
        return false;
    }
    // 4. Its version, 5. its identifiers.
    if (!fnCheckVersion(oExternal) && !(fnConfirmConversion(oExternal) && fnPerformConversion(oExternal)))
        return false;
    fnMendUINCounter(oExternal);
    fnGiveMissingUINs(oExternal, false);
    // 6. The folder of the other file.
    var oExternalRoot = fnGetDatabaseElement(oExternal);
    var sExternalFolder;
    if (nMode == cixSendByMail) {
        sExternalFolder = oExternalRoot.getAttribute(cxbiAttUIN);
        var oUnsorted = oExternalRoot.selectSingleNode(cxbiNODE + "[@" + cxbiAttUnsorted + "]");
        if (oUnsorted)
            oExternalRoot.removeChild(oUnsorted);
    } else {
        var nCurrent = parseInt(oExternalRoot.getAttribute(cxbiAttCurrentNode), 10);
        if (isNaN(nCurrent) || !fnFindElementByUIN(oExternal, String(nCurrent)))
            oExternalRoot.setAttribute(cxbiAttCurrentNode, oExternalRoot.getAttribute(cxbiAttUIN));
        var sTree = fnRenderFolderTree(oExternal);
        if (!sTree) {
            alert(L_TRANSFORM_FAILED);
            return false;
        }
        var sInternalFolder;
        try {
            sInternalFolder = String(fnGetFolderTreeUIN());
        } catch (e) {
            sInternalFolder = String(goCurrentFolderUIN);
        }
        var oChoice = window.showModalDialog("ktMoveToFolder.htm", {
            XMLbase: goBase,
            TreeHTML: sTree,
            nDialogMode: nMode == cixImport ? cmtfFolderImport : cmtfFolderExport,
            sourceFolder: null,
            internalDB: goBase,
            externalDB: oExternal,
            internalFolder: sInternalFolder,
        }, "help:no; resizable:no; status:no;");
        if (!oChoice || oChoice.oFolder === null || oChoice.oFolder === undefined || oChoice.oFolder === "")
            return false;
        sExternalFolder = String(oChoice.oFolder);
    }
    // 7, 8. Both files locked for the change.
    if (fnPrepareToChangeDatabase() == ktfFailure)
        return false;
    var bExternalLocked = false;
    if (!bInternal) {
        try {
            oHelper.LockFile(sExternal);
            bExternalLocked = true;
        } catch (e) {
            fnUnlockQuietly(oHelper, gsCurrentPath);
            alert(L_LOCK_FAILED);
            return false;
        }
    }
    var sPrevious = null; // the open collection before an import replaced it, for the error path
    try {
        // 9. A working copy, and the two folders.
        var oWork = fnCreateXMLctl();
        if (!oWork || !oWork.loadXML(goBase.xml))
            throw L_XML_CONTROL_FAILED;
        var sCurrent;
        try {
            sCurrent = String(fnGetFolderTreeUIN());
        } catch (e) {
            sCurrent = String(goCurrentFolderUIN);
        }
        var oExternalNode = fnFindFolderByUIN(oExternal, sExternalFolder);
        var oCurrentNode = fnFindFolderByUIN(oWork, sCurrent);
        if (!oExternalNode || !oCurrentNode)
            throw L_FOLDER_NOT_FOUND;
        if (nMode == cixImport) {
            // 10. Into the open collection.
            if (!fnAddNodeData(oWork, oCurrentNode, oExternal, oExternalNode, true))
                throw L_ADD_FOLDER_FAILED;
            sPrevious = goBase.xml;
            if (!goBase.loadXML(oWork.xml))
                throw L_ADD_FOLDER_FAILED;
            var bSaved = fnSaveChangedDatabase() !== false;
            if (bExternalLocked)
                fnUnlockQuietly(oHelper, sExternal);
            bExternalLocked = false;
            // A failed save was told and keeps the import in memory for the next save: nothing
            // is reloaded over it.
            if (!bSaved)
                return false;
            fnLoadFile(gsCurrentPath);
        } else {
            // 11. Into the other file, saved under its own lock; the open collection is unchanged.
            if (!fnAddNodeData(oExternal, oExternalNode, oWork, oCurrentNode, true))
                throw L_ADD_FOLDER_FAILED;
            if (nMode == cixSendByMail) {
                var oCopy = oExternalRoot.selectSingleNode(cxbiNODE);
                if (oCopy)
                    oCopy.setAttribute(cxbiAttUnsorted, "1");
            }
            fnIncrementTimeStamp(oExternal);
            oExternal.save(sExternal);
            oHelper.DoSendChangeNotification(sExternal, -1);
            if (bExternalLocked)
                fnUnlockQuietly(oHelper, sExternal);
            bExternalLocked = false;
            fnUnlockQuietly(oHelper, gsCurrentPath);
            if (bInternal)
                fnLoadFile(gsCurrentPath);
        }
        return true;
    } catch (e) {
        // 13. Everything as it was: the open collection, and no lock left.
        if (sPrevious !== null)
            goBase.loadXML(sPrevious);
        fnUnlockQuietly(oHelper, gsCurrentPath);
        if (bExternalLocked)
            fnUnlockQuietly(oHelper, sExternal);
        fnReportExchangeError(e);
        return false;
    }
}
