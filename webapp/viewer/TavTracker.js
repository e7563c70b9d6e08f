// The viewer's main script: the window's start-up and shut-down, the accessors through which
// every viewer script reaches the frames and the helper object, the folder-pane splitter, the
// title bar, and the open collection with its change protocol and recent-files list.

// ---- Texts ---------------------------------------------------------------------------------------

var L_NO_HELPER = "There are no Tavrelo Helper object found.\n\nYou may need to reinstall the application";
var L_LOCK_FAILED = "Failed to lock the file.";
var L_TRANSFORM_FAILED = "Transform failed.\n\nLooks like something is wrong.";
var L_BUSY = "Program is busy servicing a dialog.\n\nClose dialogs you opened and try again.";
var L_OPEN_TITLE = "Open";
var L_TITLE_SUFFIX = " - Tavrelo Clipvane";
var L_HIDE_TREE = "Hide Folders Tree Pane";
var L_SHOW_TREE = "Show Folders Tree Pane";
var L_NOT_AVAILABLE = "This command is not available in this version.";

// ---- Shell state ---------------------------------------------------------------------------------

var bWontWork = false;
var bLeftFrameLoaded = false, bRightFrameLoaded = false;
var TitleBarSetupTimer = -1, ToolBarSetupTimer = -1;
var kRecentFiles = 5;

// ---- The open collection -------------------------------------------------------------------------

var goBase = null;           // created once; every load empties and refills this same document
var gbCollectionOpen = false; // goBase holds a collection that was opened; false after a load stopped
var gsDefPath = "";
var gsCurrentPath = "";
var goCurrentFolderUIN = -1;
var gbFilterByFolder = true;
var gnMouseOutTimer = -1;
var FileName = ""; // the path the last file dialog returned (fnBrowseForFile)

// ---- Accessors -----------------------------------------------------------------------------------

function fnFrame(sName) { return window.frames[sName]; }
function fnGetMainToolbar() { return fnFrame("ktToolBars").document.getElementById("ktMainToolbar"); }
function fnGetLeftToolbar() { return fnFrame("ktToolBars").document.getElementById("ktLeftToolbar"); }
function fnGetRightToolbar() { return fnFrame("ktToolBars").document.getElementById("ktRightToolbar"); }
function fnGetTreeHolder() { return fnFrame("ktLeftFrame").document.getElementById("ctlTree"); }
function fnGetQuilletHolder() { return fnFrame("ktRightFrame").document.getElementById("ctlQuillet"); }
function fnGetHelperObject() { return fnFrame("ktToolBars").idHelper; }
function fnGetBrowserObject() { return window; }
function fnGetTree() { return fnGetTreeHolder().firstElementChild; }

// ---- Start-up and shut-down ----------------------------------------------------------------------

function fnDoStartup()
{
    try {
        fnGetHelperObject().DoRevokeDragDrop();
    } catch (e) {
        fnCancelSetupTimers();
        for (var i = 0; i < window.frames.length; i++) {
            try { window.frames[i].document.body.onload = null; } catch (eFrame) { }
        }
        bWontWork = true;
        alert(L_NO_HELPER);
        window.close();
        return;
    }
    gsDefPath = __tavreloHost.homeDirectory + "/Clipvane.t-q";
    fnRestoreSplitterPosition();
    fnSetupTitleBar();
    fnGetHelperObject().DoBroadcastCloseSplash();
    fnGetHelperObject().RestoreWindowPos("Quillet", "WindowPos", oHTA.applicationName);
    fnResizeTitleBar();
    fnSetupToolBar();
    fnStartWatchingCollections();
    var sPath = fnFindParameter(oHTA.commandLine, 1);
    var bFromCommandLine = !!sPath;
    if (!sPath)
        sPath = fnGetSetting(ccsStLastFile, "", false);
    fnLoadFile(sPath || null, bFromCommandLine);
}

function fnDoShutdown()
{
    if (bWontWork)
        return;
    try {
        fnFlushPendingSave();
    } catch (e) {
    }
    try {
        if (gbCollectionOpen && gsCurrentPath && String(goCurrentFolderUIN) != "-1")
            fnQuietWriteCurrentNode(fnGetHelperObject(), gsCurrentPath, goCurrentFolderUIN);
    } catch (e) {
    }
    try {
        fnGetHelperObject().SaveWindowPos("Quillet", "WindowPos", oHTA.applicationName);
    } catch (e) {
    }
}

function fnCancelSetupTimers()
{
    if (TitleBarSetupTimer != -1)
        clearTimeout(TitleBarSetupTimer);
    if (ToolBarSetupTimer != -1)
        clearTimeout(ToolBarSetupTimer);
    TitleBarSetupTimer = ToolBarSetupTimer = -1;
}

function fnSetupTitleBar()
{
    if (bWontWork)
        return;
    if (TitleBarSetupTimer != -1)
        clearTimeout(TitleBarSetupTimer);
    TitleBarSetupTimer = -1;
    try {
        fnFrame("ktTitleBar").document.getElementById("idVersionString").innerHTML =
            "Version &nbsp;" + fnTreeEscape(oHTA.version) + "&nbsp;";
    } catch (e) {
        TitleBarSetupTimer = setTimeout(fnSetupTitleBar, 50);
    }
}

// The toolbars: every button starts enabled and up (the filter button shows the filter as it
// is), out of keyboard navigation; a button whose command this version lacks says so. Tried
// again after 50 ms until the toolbar page and its helper object are there.
function fnSetupToolBar()
{
    if (bWontWork)
        return;
    if (ToolBarSetupTimer != -1)
        clearTimeout(ToolBarSetupTimer);
    ToolBarSetupTimer = -1;
    try {
        if (!fnGetMainToolbar() || !fnGetHelperObject())
            throw new Error("the toolbars are not ready");
        fnInitSortMode();
        var aButtons = fnToolbarButtons();
        for (var i = 0; i < aButtons.length; i++) {
            var oButton = aButtons[i];
            if (oButton.kt_toolbar_button !== 1)
                throw new Error("the toolbar buttons are not ready");
            if (!fnGetMainToolbar().contains(oButton)) { // the left and right toolbars
                oButton.kt_disabled = 0;
                oButton.kt_state = 0;
            }
            if (fnGetBrowserVersion() >= 5.5)
                oButton.tabIndex = -1;
            var aCommand = /^top\.(\w+)\(/.exec(oButton.kt_onclick);
            if (aCommand && typeof window[aCommand[1]] != "function")
                oButton.kt_onclick = "top.fnCommandNotAvailable()";
        }
        fnSyncFilterButton();
        fnSyncShowHideButton();
    } catch (e) {
        ToolBarSetupTimer = setTimeout(fnSetupToolBar, 50);
    }
}

function fnToolbarButtons()
{
    return Array.prototype.slice.call(fnFrame("ktToolBars").document.querySelectorAll("img.ToolbarButton"));
}

function fnToolbarButton(sId)
{
    try {
        var oButton = fnFrame("ktToolBars").document.getElementById(sId);
        return oButton && oButton.kt_toolbar_button === 1 ? oButton : null;
    } catch (e) {
        return null;
    }
}

// Ends the stuck look of a button (and its partner) once its menu or dialog has closed.
function fnUnstickButton(sId)
{
    var oButton = fnToolbarButton(sId);
    if (oButton)
        oButton.kt_unstick();
}

function fnCommandNotAvailable()
{
    alert(L_NOT_AVAILABLE);
}

function fnSetupLeftFrame()
{
    if (bWontWork)
        return;
    if (bLeftFrameLoaded)
        fnLoadFile(gsCurrentPath);
    bLeftFrameLoaded = true;
}

function fnSetupRightFrame()
{
    if (bWontWork)
        return;
    if (bRightFrameLoaded && typeof OnFolderChanged == "function")
        OnFolderChanged();
    bRightFrameLoaded = true;
}

function fnResizeTitleBar()
{
    if (bWontWork)
        return;
    try {
        document.getElementById("idMainFrameSet").rows =
            "38," + fnFrame("ktToolBars").document.body.scrollHeight + ",*";
    } catch (e) {
    }
}

// Token n of a command line: quoted stretches keep their blanks and lose their quotes; token 0
// is the page's own address. Nothing when there is no such token.
function fnFindParameter(sLine, n)
{
    var aTokens = [""], bQuoted = false;
    var sText = String(sLine || "");
    for (var i = 0; i < sText.length; i++) {
        var c = sText.charAt(i);
        if (bQuoted) {
            if (c == "\"")
                bQuoted = false;
            else
                aTokens[aTokens.length - 1] += c;
        } else if (c == "\"" || c == " ") {
            if (aTokens[aTokens.length - 1] != "")
                aTokens.push("");
            if (c == "\"")
                bQuoted = true;
        } else {
            aTokens[aTokens.length - 1] += c;
        }
    }
    return n > 0 && n < aTokens.length ? aTokens[n] : undefined;
}

function fnGetBrowserVersion()
{
    var sAgent = navigator.userAgent;
    var nParen = sAgent.indexOf("(");
    if (nParen >= 0)
        sAgent = sAgent.substring(nParen + 1);
    var aMatch = /\d+(\.\d+)?/.exec(sAgent);
    var nVersion = aMatch ? parseFloat(aMatch[0]) : NaN;
    return isNaN(nVersion) ? 0.0 : nVersion;
}

function fnShowHelp()
{
    fnShowTheHelp();
}

// F1 in any frame opens the help (the engine has no help event of its own); Ctrl+E goes to the
// search field.
function fnOnKeyDown(oEvent)
{
    if (oEvent.keyCode == 69 && oEvent.ctrlKey && !oEvent.altKey && !oEvent.shiftKey) {
        oEvent.preventDefault();
        fnFocusSearchField();
        return false;
    }
    if (oEvent.keyCode != 112)
        return true;
    oEvent.preventDefault();
    fnShowHelp();
    return false;
}

// ---- The folder-pane splitter --------------------------------------------------------------------

function fnCalcLeftFrameWidth()
{
    var oLeft = document.getElementById("ktLeftFrame"), oRight = document.getElementById("ktRightFrame");
    var nWidth = oRight.getBoundingClientRect().left - oLeft.getBoundingClientRect().left;
    if (nWidth < 8)
        nWidth = 0;
    return Math.min(nWidth, fnFrame("ktLeftFrame").document.body.clientWidth);
}

function fnIsFolderTreeVisible()
{
    return fnCalcLeftFrameWidth() > 0;
}

function fnRestoreSplitterPosition()
{
    if (bWontWork)
        return;
    var oColumns = document.getElementById("idVerticalFrameSet");
    if (fnGetSetting(ccsLeftPaneHidden, 0, true) != 0) {
        oColumns.cols = "0%,*";
    } else {
        var nPercent = Number(fnGetSetting(ccsLeftPanePercent, 0, true));
        nPercent = !nPercent || isNaN(nPercent) || nPercent >= 9800 ? 20 : nPercent / 100;
        nPercent += fnGetBrowserVersion() >= 5.5 ? 0.2 : -0.2;
        oColumns.cols = nPercent + "%,*";
    }
    fnSyncShowHideButton();
}

function fnStorePaneWidth()
{
    var nLeft = fnFrame("ktLeftFrame").document.body.clientWidth;
    var nRight = fnFrame("ktRightFrame").document.body.clientWidth;
    if (nLeft + nRight <= 10)
        return false;
    var nWidth = fnCalcLeftFrameWidth();
    var nPercent = Math.round(nWidth * 10000 / (nWidth + nRight + 4));
    if (nPercent > 0)
        fnSetSetting(ccsLeftPanePercent, nPercent, true);
    fnSetSetting(ccsLeftPaneHidden, nWidth > 0 ? 0 : 1, true);
    return true;
}

function fnOnSplitterMove()
{
    if (bWontWork)
        return;
    try {
        fnStorePaneWidth();
        fnSyncShowHideButton();
    } catch (e) {
    }
}

function fnToggleShowHideFoldersTree()
{
    var bVisible = fnIsFolderTreeVisible();
    if (bVisible)
        fnStorePaneWidth();
    fnSetSetting(ccsLeftPaneHidden, bVisible ? 1 : 0, true);
    fnRestoreSplitterPosition();
}

// The show/hide button's images and tooltip follow the folder pane.
function fnSyncShowHideButton()
{
    var oButton = fnToolbarButton("ktsFoldersTreeShowHide");
    if (!oButton)
        return;
    var bVisible = fnIsFolderTreeVisible();
    var sImage = bVisible ? "FolderTreeHide" : "FolderTreeShow";
    oButton.title = bVisible ? L_HIDE_TREE : L_SHOW_TREE;
    oButton.setAttribute("activesrc", sImage + ".gif");
    oButton.setAttribute("graysrc", sImage + "_g.gif");
    oButton.kt_state = oButton.kt_state; // redraws with the new images
}

// The filter button is down while the filter is off.
function fnSyncFilterButton()
{
    var oButton = fnToolbarButton("ktsFolderFilter");
    if (oButton)
        oButton.kt_state = gbFilterByFolder ? 0 : 1;
}

// ---- Loading a collection ------------------------------------------------------------------------

// Opens or reloads a collection. A large one is read after the wait indicator has been painted
// (see fnAfterWaitIndicator) and parsed while the page's script is free; a load asked for
// meanwhile follows it. A change that has to read the file again calls fnReadFileNow.
var goLoadAfterBackground = null; // {sPath, bDoNotRecord}: the last load asked for during one in the background
var gbLoadingInBackground = false;
var gbCheckAfterBackgroundLoad = false; // the file watch told of a change during such a load

function fnLoadFile(sPath, bDoNotRecord)
{
    if (gbLoadingInBackground) {
        goLoadAfterBackground = { sPath: sPath, bDoNotRecord: bDoNotRecord };
        return;
    }
    fnFlushPendingSave();
    if (fnIsLargeCollection(sPath || gsDefPath)) {
        gbLoadingInBackground = true; // from now: a load asked for before this one ran follows it
        fnAfterWaitIndicator(function () {
            return (fnReadFileNow(sPath, bDoNotRecord, true) || Promise.resolve()).finally(fnEndBackgroundLoad);
        });
        return;
    }
    fnReadFileNow(sPath, bDoNotRecord);
}

function fnEndBackgroundLoad()
{
    gbLoadingInBackground = false;
    var bCheck = gbCheckAfterBackgroundLoad;
    gbCheckAfterBackgroundLoad = false;
    var oNext = goLoadAfterBackground;
    goLoadAfterBackground = null;
    // A reload asked for while the file was being read (its watch reports the same change more
    // than once) is not made when the file is still the one just read.
    if (oNext && gbCollectionOpen && fnSamePath(oNext.sPath || gsDefPath, gsCurrentPath) && !fnFileChangedSinceRead(goBase, gsCurrentPath))
        return;
    if (oNext)
        fnLoadFile(oNext.sPath, oNext.bDoNotRecord);
    else if (bCheck) // a change the watch told of while the file was read
        fnCheckCollectionOnDisk();
}

// ---- Long work and the wait indicator ------------------------------------------------------------

var goPendingSave = null; // a save that waits for the wait indicator to be painted: {sPath}

// Shows the wait indicator and runs fnWork once the indicator is on the screen. The work then
// holds the page's script, but the indicator's animation runs on the engine's compositor and
// the window stays painted. A window that paints no frame (minimised) runs the work after a
// short while all the same.
function fnAfterWaitIndicator(fnWork)
{
    var bDone = false;
    var fnRun = function () {
        if (bDone)
            return;
        bDone = true;
        var fnHide = function () {
            if (!goQueuedList && !goPendingSave) // a list inserted in chunks hides it when it ends
                fnHideWaitCursor();
        };
        var oWork = null;
        try {
            oWork = fnWork();
        } finally {
            if (oWork && typeof oWork.then == "function") // work that goes on in the background
                oWork.then(fnHide, fnHide);
            else
                fnHide();
        }
    };
    fnShowWaitCursor();
    requestAnimationFrame(function () { setTimeout(fnRun, 0); });
    setTimeout(fnRun, 250);
}

// A change of a large collection is saved once the indicator shows; until then the lock stays
// taken, and whatever reads or changes the collection next saves it first.
function fnFlushPendingSave()
{
    var oSave = goPendingSave;
    if (!oSave)
        return;
    goPendingSave = null;
    fnFinishChange(fnGetHelperObject(), goBase, oSave.sPath, goCurrentFolderUIN);
}

// Loads the collection: open, version question, identifiers, tree; at once, or with the file
// parsed in the background (bInBackground: a promise that settles when the load ended). A load
// that stops (the lock failed, the user declined the version question, an error) leaves nothing
// open: the document is emptied and no later command saves it.
function fnReadFileNow(sPath, bDoNotRecord, bInBackground)
{
    var oHelper = fnGetHelperObject();
    gbCollectionOpen = false;
    if (goBase)
        fnEmptyDocument(goBase);
    else
        goBase = fnCreateXMLctl();
    fnGetTreeHolder().innerHTML = "";
    fnCancelListTransfer();
    fnGetQuilletHolder().innerHTML = "";
    if (!goBase) {
        alert(L_XML_CONTROL_FAILED);
        return null;
    }
    if (!sPath)
        sPath = gsDefPath;
    gsCurrentPath = sPath;
    __tavreloHost.watchFile(sPath);
    try {
        oHelper.LockFile(sPath);
    } catch (e) {
        fnTellLockFailure(e, L_LOCK_FAILED);
        return null;
    }
    if (!bInBackground) {
        try {
            fnCheckedInitializeFile(goBase, sPath);
            fnShowReadCollection(oHelper, sPath, bDoNotRecord);
        } catch (e) {
            fnStopLoad(e);
        } finally {
            fnUnlockQuietly(oHelper, sPath);
        }
        return null;
    }
    return fnCheckedInitializeFileAsync(goBase, sPath).then(function () {
        fnShowReadCollection(oHelper, sPath, bDoNotRecord);
    }).catch(fnStopLoad).finally(function () {
        fnUnlockQuietly(oHelper, sPath);
    });
}

// The read document made the open collection: version, identifiers, folder, tree and title.
function fnShowReadCollection(oHelper, sPath, bDoNotRecord)
{
    if (!fnCheckVersion(goBase) && !(fnConfirmConversion(goBase) && fnPerformConversion(goBase))) {
        fnEmptyDocument(goBase);
        return;
    }
    if (!bDoNotRecord) {
        fnSetSetting(ccsStLastFile, sPath, false);
        fnAddHistorySetting(ccsStPreviousFile, sPath, kRecentFiles);
    }
    fnGiveMissingUINs(goBase, false);
    fnChooseCurrentFolder();
    var sTree = fnRenderFolderTree(goBase);
    if (!sTree)
        throw fnViewerError(L_TRANSFORM_FAILED);
    var sShort = "";
    try {
        sShort = oHelper.AbbreviateFileName(sPath) || "";
    } catch (e) {
    }
    document.title = sShort + L_TITLE_SUFFIX;
    // Open from here on: the tree's first selection change lists the current folder.
    gbCollectionOpen = true;
    fnShowLoadedTree(sTree);
}

function fnStopLoad(e)
{
    gbCollectionOpen = false;
    fnCancelListTransfer();
    fnEmptyDocument(goBase);
    fnGetTreeHolder().innerHTML = "";
    fnGetQuilletHolder().innerHTML = "";
    alert(e && e.viewerMessage ? e.viewerMessage : L_OPERATION_FAILED + (e && (e.description || e.message)));
}

// The top-level handler of every command: what failed inside it, told once.
function fnReportCommandError(e)
{
    alert(L_OPERATION_FAILED + ((e && (e.description || e.message)) || String(e)));
}

function fnViewerError(sMessage)
{
    var oError = new Error(sMessage);
    oError.viewerMessage = sMessage;
    return oError;
}

// The folder the load opens at: the file's own for a newly opened file, the page's for a reload;
// the root folder when that names no element. Only the memory copy changes.
function fnChooseCurrentFolder()
{
    var oDatabase = fnGetDatabaseElement(goBase);
    var sCurrent;
    if (String(goCurrentFolderUIN) == "-1") {
        var nCurrent = parseInt(oDatabase.getAttribute(cxbiAttCurrentNode), 10);
        if (isNaN(nCurrent)) {
            sCurrent = oDatabase.getAttribute(cxbiAttUIN);
            oDatabase.setAttribute(cxbiAttCurrentNode, sCurrent);
        } else {
            sCurrent = String(nCurrent);
        }
    } else {
        sCurrent = String(goCurrentFolderUIN);
        oDatabase.setAttribute(cxbiAttCurrentNode, sCurrent);
    }
    if (!fnFindFolderByUIN(goBase, sCurrent))
        oDatabase.setAttribute(cxbiAttCurrentNode, oDatabase.getAttribute(cxbiAttUIN));
}

// Puts the rendered outline into the left frame and gives it the tree behaviour of that frame's
// document; the behaviour marks the current folder and raises its selection change.
function fnShowLoadedTree(sTree)
{
    var oHolder = fnGetTreeHolder();
    oHolder.innerHTML = sTree;
    gbTreeLoading = true;
    try {
        fnFrame("ktLeftFrame").ktTreeAttach(oHolder.firstElementChild);
    } finally {
        gbTreeLoading = false;
    }
}

// True while a loaded tree raises its first selection change, which is no choice of the user's.
var gbTreeLoading = false;

// ---- The tree's selection and the folder filter --------------------------------------------------

function fnOnTreeSelectionChange()
{
    var oTree = fnGetTree();
    if (oTree && oTree.GetCurrentNodeUIN)
        goCurrentFolderUIN = oTree.GetCurrentNodeUIN();
    // Choosing a folder ends a search.
    if (!gbTreeLoading)
        fnEndSearch(true);
    gbFilterByFolder = true;
    fnSyncFilterButton();
    if (typeof OnFolderChanged == "function")
        OnFolderChanged();
}

function fnToggleFolderFilter()
{
    gbFilterByFolder = !gbFilterByFolder;
    fnSyncFilterButton();
    if (typeof OnFolderChanged == "function")
        OnFolderChanged();
}

// ---- Open and the recent-files list --------------------------------------------------------------

function fnOpenFile()
{
    fnUnstickButton("OpenButton");
    try {
        if (!fnBrowseForFile(gsCurrentPath, L_OPEN_TITLE))
            return;
        var sChosen = fnGetBrowserObject().FileName;
        fnTouchCurrentCollection();
        goCurrentFolderUIN = -1;
        fnLoadFile(sChosen);
    } catch (e) {
        fnReportCommandError(e);
    }
}

// The change protocol with no change: records the current folder, advances the stamp, writes
// the file and tells the other instances, before another collection is opened.
function fnTouchCurrentCollection()
{
    if (fnPrepareToChangeDatabase() != ktfFailure)
        fnSaveChangedDatabase();
}

function fnShowRecentList()
{
    try {
        if (gnMouseOutTimer != -1)
            clearTimeout(gnMouseOutTimer);
        gnMouseOutTimer = -1;
        var aRecent = fnGetHistorySettings(ccsStPreviousFile, kRecentFiles);
        if (!aRecent.length) {
            gnMouseOutTimer = setTimeout(fnMouseOutOfButton, 500);
            return;
        }
        var oPoint = fnScreenPointBelow(fnFrame("ktToolBars"), "OpenButton");
        var nChoice;
        try {
            nChoice = fnTrackPopupMenu(oPoint, function (oHelper) {
                for (var i = 0; i < aRecent.length; i++)
                    oHelper.PopupMenuAppendPathItem(aRecent[i], i + 1, 1, 0);
            });
        } finally {
            fnUnstickButton("OpenButton");
        }
        if (nChoice >= 1 && nChoice <= aRecent.length) {
            fnTouchCurrentCollection();
            goCurrentFolderUIN = -1;
            if (aRecent[nChoice - 1])
                fnLoadFile(aRecent[nChoice - 1]);
        }
    } catch (e) {
        fnReportCommandError(e);
    }
}

// ---- Grabbing text from the list ----------------------------------------------------------------

var L_GRAB_SELECTED_TEXT = "Grab &Selected Text...";
var L_COPY_SELECTION = "&Copy";
var kGrabCommand = 1, kCopyCommand = 2;

// The list keeps the engine's context menu, except over a text selection: there it offers to grab
// the selected text into a collection, as a browser does, and to copy it.
function fnOnListContextMenu(oEvent)
{
    var oFrame = fnFrame("ktRightFrame");
    var oSelection = oFrame.getSelection();
    if (!oSelection || oSelection.isCollapsed)
        return true;
    oEvent.preventDefault();
    try {
        var oOrigin = __tavreloHost.contentScreenOrigin();
        var oFrameBox = oFrame.frameElement.getBoundingClientRect();
        var oPoint = { x: Math.round(oOrigin.x + oFrameBox.left + oEvent.clientX), y: Math.round(oOrigin.y + oFrameBox.top + oEvent.clientY) };
        var nChoice = fnTrackPopupMenu(oPoint, function (oHelper) {
            oHelper.PopupMenuAppendItem(L_GRAB_SELECTED_TEXT, kGrabCommand, 1, 0);
            oHelper.PopupMenuAppendSeparator();
            oHelper.PopupMenuAppendItem(L_COPY_SELECTION, kCopyCommand, 1, 0);
        });
        if (nChoice == kGrabCommand)
            fnGrabSelectedText(oFrame);
        else if (nChoice == kCopyCommand)
            oFrame.document.execCommand("copy");
    } catch (e) {
        fnReportCommandError(e);
    }
    return false;
}

// Opens the capture dialog for the frame, as the browser's menu entry opens it for a page.
function fnGrabSelectedText(oFrame)
{
    __tavreloHost.showCaptureDialog("ktGrab.htm", oFrame, "help:no; resizable:no; status:no; center:yes; dialogWidth:600px; dialogHeight:325px",
                                    ["ctlQuillet", "oHTA"]);
}

// With no recent files there is no menu: the buttons go back to their flat look.
function fnMouseOutOfButton()
{
    gnMouseOutTimer = -1;
    var oButton = fnToolbarButton("OpenButton"), oArrow = fnToolbarButton("ShowPreviousFiles");
    if (oButton)
        oButton.kt_unstick();
    if (oButton)
        oButton.kt_mouseout();
    if (oArrow)
        oArrow.kt_mouseout();
}

// ---- General commands ----------------------------------------------------------------------------

// Prints the list: whole fragments, without the buttons (the list's print rules).
function fnPrint()
{
    var oFrame = fnFrame("ktRightFrame");
    oFrame.fnExpandSelection();
    oFrame.focus();
    oFrame.print();
}

function fnFind()
{
    setTimeout(function () {
        fnFrame("ktRightFrame").focus();
        fnGetHelperObject().DoCauseFind();
    }, 500);
}

function fnShowAbout()
{
    window.showModalDialog("ktAbout.htm", oHTA.version, "help:no; resizable:no; status:no; center:yes; dialogHeight:386px; dialogWidth:500px;");
}

// ---- The change protocol -------------------------------------------------------------------------

// Nothing is changed while no collection is open (a load stopped or failed); a reload inside the
// change that does not open the file again ends the change too.
function fnPrepareToChangeDatabase()
{
    fnFlushPendingSave();
    if (!gbCollectionOpen || !gsCurrentPath)
        return ktfFailure;
    var oHelper = fnGetHelperObject();
    var nResult = fnBeginChange(oHelper, goBase, gsCurrentPath, function () { fnReadFileNow(gsCurrentPath); },
                                L_LOCK_FAILED);
    if (nResult == ktfReloaded && !gbCollectionOpen) {
        fnUnlockQuietly(oHelper, gsCurrentPath);
        return ktfFailure;
    }
    return nResult;
}

// True when the change was saved, or waits to be saved once the wait indicator shows; false
// when the save failed (the user has been told, and the change stays in goBase).
function fnSaveChangedDatabase()
{
    fnFlushPendingSave();
    if (!fnIsLargeCollection(gsCurrentPath))
        return fnFinishChange(fnGetHelperObject(), goBase, gsCurrentPath, goCurrentFolderUIN);
    goPendingSave = { sPath: gsCurrentPath };
    fnAfterWaitIndicator(function () {
        // The command that made the change may have rebuilt the list since, which hides the
        // indicator: then it is shown again first.
        if (!fnIsWaitCursorShown()) {
            fnAfterWaitIndicator(fnFlushPendingSave);
            return;
        }
        fnFlushPendingSave();
    });
    return true;
}

// After a change whose save failed (the user was told, and the change stays in goBase for the
// next save) the tree and the list show goBase as it now is.
function fnShowUnsavedChange()
{
    fnChooseCurrentFolder();
    var sTree = fnRenderFolderTree(goBase);
    if (sTree)
        fnShowLoadedTree(sTree);
}

// ---- The helper's events -------------------------------------------------------------------------

// Whether two paths name one file. Letter case alone does not decide: on most Linux file systems
// "List.t-q" and "list.t-q" are two files, while on others (and through links or "./") two
// spellings lead to one. Paths spelled alike are the same file; others are when the file exists
// and both lead to it (the host's identity of a file includes its device and inode).
function fnSamePath(sOne, sTwo)
{
    sOne = String(sOne);
    sTwo = String(sTwo);
    if (sOne == sTwo)
        return true;
    var oHost = window.__tavreloHost;
    if (!sOne || !sTwo || !oHost || !oHost.fileIdentity)
        return false;
    var sIdentity = oHost.fileIdentity(sOne);
    return !!sIdentity && sIdentity === oHost.fileIdentity(sTwo);
}

// ---- Changes that come without a notification ------------------------------------------------------

// Another user, another machine (a shared or synchronised folder) or another program may change
// the open collection without telling this instance. The host tells of every change of the file
// the system sees; where the file system tells nothing (network file systems), the file's
// identity is looked at every kCollectionCheckMs while the window has the focus. Either way the
// collection is read again only when the file is no longer the one this page last read or wrote,
// so it is read once per change, and never for a save of its own.
var kCollectionCheckMs = 15000;
var gbCheckAfterEdit = false;

function fnStartWatchingCollections()
{
    window.addEventListener("tavrelofilechange", function (oEvent) {
        if (oEvent.detail == gsCurrentPath)
            fnCheckCollectionOnDisk();
    });
    setInterval(function () {
        if (document.hasFocus())
            fnCheckCollectionOnDisk();
    }, kCollectionCheckMs);
}

function fnCheckCollectionOnDisk()
{
    if (gbLoadingInBackground) {
        gbCheckAfterBackgroundLoad = true;
        return;
    }
    // A change kept after a failed save is not read over: the next change takes it along (and its
    // stamp check finds another program's change).
    if (!gsCurrentPath || !gbCollectionOpen || goPendingSave || fnHasUnsavedChange(goBase) ||
        !fnFileChangedSinceRead(goBase, gsCurrentPath))
        return;
    // An edit in place goes on undisturbed; the file is looked at again when it ends.
    if (fnIsEditingInPlace()) {
        gbCheckAfterEdit = true;
        return;
    }
    fnLoadFile(gsCurrentPath, true);
}

// Called when an edit in place ends.
function fnAfterEditInPlace()
{
    if (gbCheckAfterEdit) {
        gbCheckAfterEdit = false;
        setTimeout(fnCheckCollectionOnDisk, 0);
    }
}

function fnOnFileChange()
{
    var sPath = fnGetHelperObject().FileChangeFilePath;
    // A file this page has read already (its watch was quicker than the notification) is not
    // read twice.
    if (gsCurrentPath && fnSamePath(sPath, gsCurrentPath) && fnFileChangedSinceRead(goBase, gsCurrentPath) && !fnAcceptOpenEdit())
        fnLoadFile(gsCurrentPath);
}

// The path of a file-open request. Another start sends its arguments each in double quotes: the
// first quoted path is taken (a start with several paths opens the first); a path sent without
// quotes is taken whole.
function fnRequestedPath(sRequest)
{
    var sText = String(sRequest || "");
    if (sText.charAt(0) != "\"")
        return sText;
    var nEnd = sText.indexOf("\"", 1);
    return nEnd < 0 ? sText.substring(1) : sText.substring(1, nEnd);
}

function fnOnFileOpenRequest()
{
    var sPath = fnRequestedPath(fnGetHelperObject().FileOpenFilePath);
    if (!sPath || fnSamePath(sPath, gsCurrentPath))
        return;
    fnTouchCurrentCollection();
    goCurrentFolderUIN = -1;
    fnLoadFile(sPath);
}

function fnOnBusy()
{
    var sPath = fnRequestedPath(fnGetHelperObject().FileOpenFilePath);
    if (sPath && !fnSamePath(sPath, gsCurrentPath))
        alert(L_BUSY);
}
