// The capture dialog: stores the text selected in a browser window as a fragment of a folder of a
// collection. It runs as a modal dialog whose window.external.menuArguments is the captured
// window. Its outcome is its returnValue, which a host started for the dialog alone turns into
// its exit status: stored, cancelled (also a dialog closed without one), failed.

var L_NO_HELPER = "There is no Tavrelo Helper object found.\n\nYou may need to reinstall the application.";
var L_NO_SELECTION = "You should select some text to grab";
var L_LOCK_FILE_FAILED = "Failed to lock file.";
var L_TRANSFORM_FAILED = "Transform failed.";
var L_NO_FOLDER = "You must select a folder to create something in.";
var L_WRONG_TREE = "There's something wrong with the tree. ";
var L_SAVE_FAILED_1 = "The fragment could not be stored: saving the collection file\n\n";
var L_SAVE_FAILED_2 = "\n\nfailed with the following error:\n\n";

var cnGrabStored = 0;
var cnGrabCancelled = 1;
var cnGrabFailed = 2;

var csViewerApplicationName = "{E0F6716F-4E84-11d4-B7AB-00C0F04903DC}";
var csDefaultFileName = "Clipvane.t-q";

var gWnd = null;
var gDoc = null;
var gsText = "";
var goBase = null;
var goBrowser = { FileName: "" };

function fnGetHelperObject() { return document.getElementById("idHelper"); }
function fnGetBrowserObject() { return goBrowser; }
function fnGetTreeFrame() { return window.frames["ctlFoldersTree"]; }
function fnGetTreeHolder() { return fnGetTreeFrame().document.getElementById("TreeHolder"); }
function fnGetTree()
{
    var oList = fnGetTreeHolder().firstElementChild;
    return oList && oList.GetCurrentNode ? oList : null;
}

// The capture dialog keeps its own folder: a selection change in its tree changes nothing.
function fnOnTreeSelectionChange() { return true; }

// A failed end leaves its reason as the console's last line, which the host writes to standard
// error for whoever started it.
function fnEndDialog(nOutcome, sReason)
{
    if (nOutcome == cnGrabFailed)
        fnTellFailure(sReason);
    if (nOutcome != cnGrabCancelled)
        window.returnValue = nOutcome;
    window.close();
}

function fnTellFailure(sReason)
{
    console.error("Capture failed: " + fnRemoveWhiteSpaces(sReason));
}

// Start-up failures close the dialog and are told by the browser window when it can, else here.
function fnCloseAndTell(sMessage)
{
    try {
        if (gWnd && typeof gWnd.alert == "function")
            gWnd.alert(sMessage);
        else
            alert(sMessage);
    } catch (e) {
        alert(sMessage);
    }
    fnEndDialog(cnGrabFailed, sMessage);
}

// ---- Start-up ------------------------------------------------------------------------------------

function SetupFields()
{
    var oHelper = fnGetHelperObject();
    try {
        oHelper.PopupMenuHandle;
    } catch (e) {
        alert(L_NO_HELPER);
        fnEndDialog(cnGrabFailed, L_NO_HELPER);
        return;
    }
    if (!ReadSelection())
        return;

    try {
        var sVersion = oHelper.KeyRegistryString("HKEY_LOCAL_MACHINE", "Software\\Microsoft\\Internet Explorer", "Version");
        fnGetTreeHolder().setAttribute("explorer_version", sVersion === undefined || sVersion === null ? "" : String(sVersion));
    } catch (e) {
    }

    var sPath = fnGetSetting(ccsStLastFile, __tavreloHost.homeDirectory + "/" + csDefaultFileName, false);
    document.getElementById("edtTitle").value = fnOneLineField(gDoc.title);
    var sAddress = "";
    try {
        sAddress = oHelper.GetDocumentURL(gDoc);
    } catch (e) {
    }
    document.getElementById("edtBaseURL").value = fnOneLineField(sAddress);
    document.getElementById("edtFragment").value = gsText;
    fnSetPath(sPath);

    try {
        if (fnIsViewerFragmentList(gWnd, gDoc))
            document.getElementById("edtBaseURL").value = "";
    } catch (e) {
    }

    document.getElementById("edtComment").focus();
    LoadFile(sPath);
    fnResizeDialogIfNotFit();
}

// A one-line field drops line breaks instead of showing them, which would join the words around
// them: they are offered as spaces, tabs and the rest as they came.
function fnOneLineField(sText)
{
    return fnKtText(sText).replace(/[\r\n]+/g, " ");
}

function ReadSelection()
{
    try {
        gWnd = window.external.menuArguments;
        gDoc = gWnd.document;
        var oSelection = gDoc.selection;
        var sType = String(oSelection.type);
        gsText = fnSpecialRemoveWhiteSpaces(oSelection.createRange().text);
        if (sType.toLowerCase() != "text" || !gsText) {
            fnCloseAndTell(L_NO_SELECTION);
            return false;
        }
    } catch (e) {
        fnCloseAndTell(L_NO_SELECTION);
        return false;
    }
    goBase = fnCreateXMLctl();
    if (!goBase) {
        fnCloseAndTell(L_XML_CONTROL_FAILED);
        return false;
    }
    window.dialogWidth = "600px";
    window.dialogHeight = "325px";
    return true;
}

// Whether the selection was made in the viewer's own fragment list: its list holder in a frame
// body of the viewer's application window.
function fnIsViewerFragmentList(oWnd, oDoc)
{
    var oList = oDoc.getElementById("ctlQuillet");
    if (!oList || String(oList.tagName).toUpperCase() != "DIV")
        return false;
    var oBody = oList.parentElement;
    if (!oBody || String(oBody.tagName).toUpperCase() != "BODY" ||
        (" " + oBody.className + " ").indexOf(" FrameBody ") < 0)
        return false;
    var oApplication = oWnd.top.document.getElementById("oHTA");
    return !!oApplication && String(oApplication.tagName).toUpperCase() == "APPLICATION" &&
        String(oApplication.scopeName).toUpperCase() == "HTA" &&
        String(oApplication.applicationName).toLowerCase() == csViewerApplicationName.toLowerCase();
}

function fnSetPath(sPath)
{
    var oField = document.getElementById("ctlFileName");
    oField.value = sPath;
    oField.title = sPath;
    fnGetBrowserObject().FileName = sPath;
}

// ---- The collection ------------------------------------------------------------------------------

// A large collection is parsed in the background; a load asked for meanwhile follows it, and
// OK waits for it (the tree is empty until then).
var gbLoadingInBackground = false;
var gsLoadAfterBackground = null;

function LoadFile(sPath)
{
    if (gbLoadingInBackground) {
        gsLoadAfterBackground = sPath;
        return;
    }
    var oHolder = fnGetTreeHolder();
    var oOptions = {
        lockFailureMessage: L_LOCK_FILE_FAILED,
        foldersOnly: true,
        render: function (oBase) {
            oHolder.innerHTML = "";
            var sTree = fnRenderFolderTree(oBase);
            if (!sTree) {
                alert(L_TRANSFORM_FAILED);
                return;
            }
            oHolder.innerHTML = sTree;
            fnGetTreeFrame().ktTreeAttach(oHolder.firstElementChild);
            fnAddHistorySetting(ccsStPreviousFile, sPath);
        }
    };
    // Declined version questions leave no folders to choose from; a failed lock keeps what
    // was shown.
    var fnRead = function (bRead) {
        if (!bRead && goBase.documentElement && !fnCheckVersion(goBase))
            oHolder.innerHTML = "";
    };
    var fnFailed = function (e) {
        oHolder.innerHTML = "";
        alert(L_OPERATION_FAILED + (e && (e.description || e.message)));
    };
    if (!fnIsLargeCollection(sPath)) {
        try {
            fnRead(fnReadCollection(fnGetHelperObject(), goBase, sPath, oOptions));
        } catch (e) {
            fnFailed(e);
        }
        return;
    }
    gbLoadingInBackground = true;
    oHolder.innerHTML = "";
    fnReadCollectionAsync(fnGetHelperObject(), goBase, sPath, oOptions).then(fnRead, fnFailed).finally(function () {
        gbLoadingInBackground = false;
        var sNext = gsLoadAfterBackground;
        gsLoadAfterBackground = null;
        if (sNext)
            LoadFile(sNext);
    });
}

function fnOnFileChange()
{
    var sChanged = fnGetHelperObject().FileChangeFilePath;
    var sPath = fnGetBrowserObject().FileName;
    if (sPath && String(sChanged).toLowerCase() == String(sPath).toLowerCase())
        LoadFile(sPath);
}

// The selected folder's element, or null after telling the user why there is none.
function fnSelectedFolder()
{
    var oTree = fnGetTree();
    if (!oTree || !oTree.GetCurrentNode()) {
        alert(L_NO_FOLDER);
        return null;
    }
    var oFolder = fnFindFolderByUIN(goBase, oTree.GetCurrentNodeUIN());
    if (!oFolder) {
        alert(L_WRONG_TREE);
        return null;
    }
    return oFolder;
}

// Text for a stored field under the multi-line rule, its line breaks as markers.
function fnStoredText(sText)
{
    return fnSpecialRemoveWhiteSpaces(sText).replace(/\r\n/g, "!BR/!");
}

function OnOK()
{
    if (gbLoadingInBackground)
        return;
    var oHelper = fnGetHelperObject();
    var sPath = fnGetBrowserObject().FileName;
    var nBegun = fnBeginChange(oHelper, goBase, sPath, function () { LoadFile(sPath); }, L_LOCK_FILE_FAILED);
    if (nBegun == ktfFailure)
        return;
    try {
        if (nBegun == ktfReloaded)
            return;
        var sText = fnStoredText(document.getElementById("edtFragment").value);
        var sComment = fnStoredText(document.getElementById("edtComment").value);
        var sTitle = fnRemoveWhiteSpaces(document.getElementById("edtTitle").value);
        var sAddress = fnRemoveWhiteSpaces(document.getElementById("edtBaseURL").value);
        var oFolder = fnSelectedFolder();
        if (!oFolder)
            return;

        var oFragment = goBase.createElement(cxbiFRAGMENT);
        fnGetElementUIN(goBase, oFragment);
        oFragment.setAttribute(cxbiAttName, sTitle);
        oFragment.setAttribute(cxbiAttComment, sComment);
        oFragment.setAttribute(cxbiAttText, sText);
        oFragment.setAttribute(cxbiAttURL, sAddress);
        oFragment.setAttribute(cxbiAttDate, fnFormatCreationDate(new Date()));
        oFolder.appendChild(oFragment);

        var oDatabase = fnGetDatabaseElement(goBase);
        var oRoot = fnGetRootElement(goBase);
        var sOldCurrent = oDatabase.getAttribute(cxbiAttCurrentNode);
        var sOldStamp = oRoot.getAttribute(cxbiAttTimeStamp);
        oDatabase.setAttribute(cxbiAttCurrentNode, oFolder.getAttribute(cxbiAttUIN));
        fnIncrementTimeStamp(goBase);
        try {
            goBase.save(sPath);
        } catch (e) {
            // Nothing was stored: the memory copy goes back to the file's state, so that OK can be
            // pressed again once the file can be written, and stores the fragment once.
            oFolder.removeChild(oFragment);
            fnRestoreAttribute(oDatabase, cxbiAttCurrentNode, sOldCurrent);
            fnRestoreAttribute(oRoot, cxbiAttTimeStamp, sOldStamp);
            var sFailure = L_SAVE_FAILED_1 + sPath + L_SAVE_FAILED_2 + (e && (e.description || e.message));
            window.returnValue = cnGrabFailed;
            fnTellFailure(sFailure);
            alert(sFailure);
            return;
        }
        fnSetSetting(ccsStLastFile, sPath, false);
        fnAddHistorySetting(ccsStPreviousFile, sPath);
        fnEndDialog(cnGrabStored);
        oHelper.DoSendChangeNotification(sPath, -1);
    } catch (e) {
    } finally {
        fnUnlockQuietly(oHelper, sPath);
    }
}

function fnRestoreAttribute(oElement, sName, sValue)
{
    if (sValue === null)
        oElement.removeAttribute(sName);
    else
        oElement.setAttribute(sName, sValue);
}

function OnCancel()
{
    fnEndDialog(cnGrabCancelled);
}

// ---- Folders and collections ---------------------------------------------------------------------

function OnNewFolder()
{
    try {
        var oFolder = fnSelectedFolder();
        if (!oFolder)
            return;
        var nLeft = parseInt(window.dialogLeft, 10) + Math.round(parseInt(window.dialogWidth, 10) / 2) - 110;
        var nTop = parseInt(window.dialogTop, 10) + Math.round(parseInt(window.dialogHeight, 10) / 2) - 70;
        var sFeatures = "help:no; resizable:no; status:no; center:no; dialogLeft:" + nLeft + "px; dialogTop:" + nTop +
            "px; dialogWidth:220px; dialogHeight:140px";
        var sName;
        for (;;) {
            sName = window.showModalDialog("ktNewNode.htm", "new folder", sFeatures);
            if (sName === undefined || sName === null || sName === "")
                return;
            sName = fnRemoveWhiteSpaces(sName);
            if (!sName)
                return;
            if (!fnNodeHasChildWithName(oFolder, sName))
                break;
            alert(L_FOLDER_EXISTS);
        }
        var oNode = goBase.createElement(cxbiNODE);
        var sUIN = fnCreateNewUIN(goBase);
        oNode.setAttribute(cxbiAttUIN, sUIN);
        oNode.setAttribute(cxbiAttName, sName);
        oNode.appendChild(goBase.createTextNode("\n\t"));
        oFolder.appendChild(oNode);
        fnGetTree().CreateNewNode(oFolder.getAttribute(cxbiAttUIN), sName, sUIN);
    } catch (e) {
        alert(L_OPERATION_FAILED + (e && (e.description || e.message)));
    }
}

function Browse()
{
    var sOld = fnGetBrowserObject().FileName;
    if (fnBrowseForFile(sOld, L_Open_Dialog_Title)) {
        var sPath = fnGetBrowserObject().FileName;
        fnSetPath(sPath);
        LoadFile(sPath);
    } else {
        fnGetBrowserObject().FileName = sOld;
    }
}

function fnShowRecentFiles()
{
    try {
        var aRecent = fnGetHistorySettings(ccsStPreviousFile);
        if (!aRecent.length)
            return;
        var nChoice = fnTrackPopupMenu(fnScreenPointBelow(window, "btnShowRecent"), function (oHelper) {
            for (var i = 0; i < aRecent.length; i++)
                oHelper.PopupMenuAppendPathItem(aRecent[i], i + 1, 1, 0);
        }, "");
        if (nChoice >= 1 && nChoice <= aRecent.length && aRecent[nChoice - 1]) {
            fnSetPath(aRecent[nChoice - 1]);
            LoadFile(aRecent[nChoice - 1]);
        }
    } catch (e) {
        alert(L_OPERATION_FAILED + (e && (e.description || e.message)));
    }
}

// ---- Keys ----------------------------------------------------------------------------------------

function fnIsEnter(oEvent) { return oEvent.keyCode == 13 || oEvent.keyCode == 10; }

function fnConsume(oEvent)
{
    oEvent.preventDefault();
    oEvent.stopPropagation();
    return false;
}

// In the text and comment fields Ctrl+Enter, a line feed and Shift+Enter break the line; Enter
// stores the fragment.
function HandleMultilineEditKey(oEvent)
{
    if (!fnIsEnter(oEvent))
        return true;
    if (oEvent.ctrlKey || oEvent.shiftKey || oEvent.keyCode == 10) {
        var oField = oEvent.target;
        oField.setRangeText("\n", oField.selectionStart, oField.selectionEnd, "end");
        oField.dispatchEvent(new Event("input", { bubbles: true }));
        return fnConsume(oEvent);
    }
    fnConsume(oEvent);
    OnOK();
    return false;
}

function HandleKey(oEvent)
{
    if (oEvent.keyCode == 27) {
        fnConsume(oEvent);
        OnCancel();
        return false;
    }
    if (fnIsEnter(oEvent)) {
        fnConsume(oEvent);
        OnOK();
        return false;
    }
    if (oEvent.keyCode == 112) {
        fnConsume(oEvent);
        fnShowTheHelp();
        return false;
    }
    return true;
}
