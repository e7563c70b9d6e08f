// The folder commands of the left toolbar: new, rename, delete and move the current folder. Each
// asks first (a name dialog, a question or the folder chooser) and checks its rules against the
// memory copy, then changes the collection under the change protocol, and finally updates the
// folder tree with the tree's own methods, so that its expansion survives.

// ---- Texts ---------------------------------------------------------------------------------------

var L_NEW_FOLDER = "new folder";
var L_FOLDER_NOT_FOUND = "Folder not found.";
var L_CONFIRM_FOLDER_DELETE = "Are you sure that you want to delete this folder?\n\nThis will also delete all citations residing in it.";
var L_ROOT_NOT_DELETED = "Root folder cannot be deleted.";
var L_SYSTEM_NOT_DELETED = "This is a system folder, which means that it cannot be deleted.";
var L_ROOT_NOT_MOVED = "Currently selected folder is the root folder of the database.\n\nIt cannot be moved.";
var L_SYSTEM_NOT_MOVED = "Currently selected folder is a system folder, which means that it cannot be moved.";
var L_MOVE_INTO_CHILD = "Folder cannot be moved into its child.\n\nPlease select another folder.";

// The name dialogs' size, in pixels.
var cnNameDialogWidth = 220;
var cnNameDialogHeight = 140;

// ---- Shared steps --------------------------------------------------------------------------------

// The move dialog over the folder tree as shown, for fragments or a folder of the folder sSource:
// its answer (oFolder, the destination, and bMakeCopy), or nothing when it was cancelled.
function fnShowMoveDialog(nDialogMode, sSource)
{
    return window.showModalDialog("ktMoveToFolder.htm", {
        XMLbase: goBase,
        TreeHTML: fnGetTreeHolder().innerHTML,
        nDialogMode: nDialogMode,
        sourceFolder: sSource,
    }, "help:no; resizable:no; status:no;");
}

// Runs one change of the open collection under the change protocol. fnChange() changes goBase
// and returns true, or returns false after telling the user why it gives up; an error it throws
// gives up silently. The protocol's result; ktfFailure when nothing was saved. The lock is
// released on every path.
function fnChangeOpenCollection(fnChange)
{
    var nResult = fnPrepareToChangeDatabase();
    if (nResult == ktfFailure)
        return ktfFailure;
    var bChanged = false;
    try {
        bChanged = fnChange() === true;
    } catch (e) {
        bChanged = false;
    }
    if (!bChanged) {
        fnUnlockQuietly(fnGetHelperObject(), gsCurrentPath);
        return ktfFailure;
    }
    if (!fnSaveChangedDatabase()) {
        fnShowUnsavedChange();
        return ktfFailure;
    }
    return nResult;
}

// The folder of the open collection with that UIN; null, after saying so, when it is not there.
function fnFindFolderOrSay(sUIN)
{
    var oFolder = fnFindFolderByUIN(goBase, sUIN);
    if (!oFolder)
        alert(L_FOLDER_NOT_FOUND);
    return oFolder;
}

// The name dialogs stand on the centre of the viewer's window: its content's place on the screen
// plus half its size.
function fnNameDialogFeatures()
{
    var oOrigin = __tavreloHost.contentScreenOrigin();
    var nLeft = Math.round(oOrigin.x + window.innerWidth / 2 - cnNameDialogWidth / 2);
    var nTop = Math.round(oOrigin.y + window.innerHeight / 2 - cnNameDialogHeight / 2);
    return "help:no; resizable:no; status:no; center:no; dialogLeft:" + nLeft + "px; dialogTop:" + nTop +
        "px; dialogWidth:" + cnNameDialogWidth + "px; dialogHeight:" + cnNameDialogHeight + "px;";
}

// The name the user typed into a name dialog, normalized and without characters the file cannot
// hold; "" when cancelled or blank.
function fnAskFolderName(sPage, sArgument)
{
    var vAnswer = window.showModalDialog(sPage, sArgument, fnNameDialogFeatures());
    return typeof vAnswer == "string" ? fnRemoveWhiteSpaces(fnRemoveNonXMLCharacters(vAnswer)) : "";
}

// Whether another folder beside oFolder is named sName, without regard to case. Stored names are
// compared as they are written. The root folder has no siblings.
function fnSiblingHasName(oFolder, sName)
{
    if (oFolder.nodeName != cxbiNODE)
        return false;
    var sWanted = sName.toUpperCase();
    for (var oSibling = oFolder.parentNode.firstChild; oSibling; oSibling = oSibling.nextSibling) {
        if (oSibling != oFolder && oSibling.nodeType == 1 && oSibling.nodeName == cxbiNODE &&
            String(oSibling.getAttribute(cxbiAttName)).toUpperCase() == sWanted)
            return true;
    }
    return false;
}

function fnClearListSelection()
{
    try {
        fnFrame("ktRightFrame").getSelection().removeAllRanges();
    } catch (e) {
    }
}

// ---- New folder ----------------------------------------------------------------------------------

function fnNewFolder()
{
    try {
        var sParentUIN = String(goCurrentFolderUIN), sName;
        for (;;) {
            sName = fnAskFolderName("ktNewNode.htm", L_NEW_FOLDER);
            if (!sName)
                return;
            var oParent = fnFindFolderOrSay(sParentUIN);
            if (!oParent)
                return;
            if (!fnNodeHasChildWithName(oParent, sName))
                break;
            alert(L_FOLDER_EXISTS);
        }
        var oCreated = {};
        if (fnNewFolderToBase(sParentUIN, sName, oCreated) != ktfFailure)
            fnGetTree().CreateNewNode(sParentUIN, sName, oCreated.sUIN);
    } catch (e) {
        fnReportCommandError(e);
    }
}

// Appends a folder named sName to the folder sParentUIN; its new UIN is put into oCreated.sUIN.
function fnNewFolderToBase(sParentUIN, sName, oCreated)
{
    return fnChangeOpenCollection(function () {
        var oParent = fnFindFolderOrSay(sParentUIN);
        if (!oParent)
            return false;
        var oFolder = goBase.createElement(cxbiNODE);
        var sUIN = fnCreateNewUIN(goBase);
        oFolder.setAttribute(cxbiAttUIN, sUIN);
        oFolder.setAttribute(cxbiAttName, sName);
        oFolder.appendChild(goBase.createTextNode("\n\t"));
        oParent.appendChild(oFolder);
        if (oCreated)
            oCreated.sUIN = sUIN;
        return true;
    });
}

// ---- Rename folder -------------------------------------------------------------------------------

function fnRenameFolder()
{
    try {
        var sUIN = String(goCurrentFolderUIN);
        var sOldName = fnGetTree().GetCurrentNodeName(), sName;
        if (sOldName === null) {
            alert(L_FOLDER_NOT_FOUND);
            return;
        }
        for (;;) {
            sName = fnAskFolderName("ktRenameNode.htm", sOldName);
            if (!sName || sName === sOldName)
                return;
            var oFolder = fnFindFolderOrSay(sUIN);
            if (!oFolder)
                return;
            if (!fnSiblingHasName(oFolder, sName))
                break;
            alert(L_FOLDER_EXISTS);
        }
        if (fnRenameFolderToBase(sUIN, sName) != ktfFailure)
            fnGetTree().RenameNode(sUIN, sName);
    } catch (e) {
        fnReportCommandError(e);
    }
}

function fnRenameFolderToBase(sUIN, sName)
{
    return fnChangeOpenCollection(function () {
        var oFolder = fnFindFolderOrSay(sUIN);
        if (!oFolder)
            return false;
        oFolder.setAttribute(cxbiAttName, sName);
        return true;
    });
}

// ---- Delete folder -------------------------------------------------------------------------------

// The folder after it in the tree becomes current, else the one before it, else its parent.
function fnDeleteFolder()
{
    try {
        if (!confirm(L_CONFIRM_FOLDER_DELETE))
            return;
        var sUIN = String(goCurrentFolderUIN);
        if (fnDeleteFolderFromBase(sUIN) != ktfFailure)
            fnGetTree().RemoveNode(sUIN, true);
    } catch (e) {
        fnReportCommandError(e);
    } finally {
        fnClearListSelection();
    }
}

// Removes the folder with all its folders and fragments; never the root folder or the system
// folder.
function fnDeleteFolderFromBase(sUIN)
{
    return fnChangeOpenCollection(function () {
        var oFolder = fnFindFolderOrSay(sUIN);
        if (!oFolder)
            return false;
        if (oFolder.nodeName == cxbiDatabase) {
            alert(L_ROOT_NOT_DELETED);
            return false;
        }
        if (oFolder.getAttribute(cxbiAttUnsorted) == "1") {
            alert(L_SYSTEM_NOT_DELETED);
            return false;
        }
        oFolder.parentNode.removeChild(oFolder);
        return true;
    });
}

// ---- Move folder ---------------------------------------------------------------------------------

// The moved folder stays current; the list is not rebuilt.
function fnMoveFolder()
{
    try {
        var oLabel = fnGetTree().GetCurrentNode();
        if (!oLabel) {
            alert(L_FOLDER_NOT_FOUND);
            return;
        }
        var oItem = oLabel.parentElement, fnFlag = fnFrame("ktLeftFrame").fnTreeFlag;
        if (fnFlag(oItem.getAttribute("IsDatabase"))) {
            alert(L_ROOT_NOT_MOVED);
            return;
        }
        if (fnFlag(oItem.getAttribute("IsUnsortedNode"))) {
            alert(L_SYSTEM_NOT_MOVED);
            return;
        }
        var sSource = oItem.getAttribute("UIN");
        var oChoice = fnShowMoveDialog(cmtfFolderMove, sSource);
        if (!oChoice || oChoice.oFolder === undefined || oChoice.oFolder === null)
            return;
        var sDestination = String(oChoice.oFolder);
        if (fnMoveFolderInBase(sDestination, sSource) != ktfFailure) {
            fnClearListSelection();
            fnGetTree().MoveNode(sDestination, sSource);
        }
    } catch (e) {
        fnReportCommandError(e);
    }
}

// Moves the folder sSourceUIN with everything below it to the end of the folder sDestinationUIN.
// The chooser refused a folder below the source; a collection reloaded in between is checked
// again, since the move would then tear the tree apart.
function fnMoveFolderInBase(sDestinationUIN, sSourceUIN)
{
    return fnChangeOpenCollection(function () {
        var oSource = fnFindFolderByUIN(goBase, sSourceUIN);
        var oDestination = fnFindFolderByUIN(goBase, sDestinationUIN);
        if (!oSource || oSource.nodeName != cxbiNODE || !oDestination) {
            alert(L_FOLDER_NOT_FOUND);
            return false;
        }
        if (oSource.contains(oDestination)) {
            alert(L_MOVE_INTO_CHILD);
            return false;
        }
        oDestination.appendChild(oSource);
        return true;
    });
}
