// Utilities shared by the viewer, its dialogs and the capture page: settings and the recent-file
// history, the file dialog, the white-space rules for stored text, the folder-name check, dialog
// fitting, the wait indicator and help.
//
// The including page provides fnGetHelperObject() (its helper object) and, for the file dialog,
// fnGetBrowserObject() (an object whose FileName holds the path the last dialog returned).
// Everything is declared with var: a dialog may load this script a second time.

// ---- Settings ------------------------------------------------------------------------------------

// Scope values of the helper object's settings members.
var ccsMachine = 0;
var ccsUserOnly = 1;
var ccsUserThenMachine = 2;
// The settings module of the whole application.
var ccsModule = "Quillet";

var ccsStLastFile = "LastFile";
var ccsStPreviousFile = "PreviousFile";
var ccsLeftPanePercent = "LeftPanePercent";
var ccsLeftPaneHidden = "LeftPaneHidden";
var ccsSortBy = "SortBy";
var ccsSortDirection = "SortDirection";
var ccsWindowPos = "WindowPos";
var ccsVHideFieldNames = "VisibilityHideFieldNames";
var ccsVShowTitle = "VisibilityShowTitle";
var ccsVShowDate = "VisibilityShowDate";
var ccsVShowText = "VisibilityShowText";
var ccsVShowComment = "VisibilityShowComment";
var ccsVShowURL = "VisibilityShowURL";
var ccsHTMLVHideContents = "HTMLVisibilityHideContents";
var ccsHTMLVHideFieldNames = "HTMLVisibilityHideFieldNames";
var ccsHTMLVHideTitle = "HTMLVisibilityHideTitle";
var ccsHTMLVHideText = "HTMLVisibilityHideText";
var ccsHTMLVHideComment = "HTMLVisibilityHideComment";
var ccsHTMLVHideURL = "HTMLVisibilityHideURL";

// Entries of a history when the caller names no size.
var cnHistoryDefaultSize = 5;

// ---- Dialog modes --------------------------------------------------------------------------------

// The move-to-folder dialog.
var cmtfFolderMove = 1;
var cmtfFragmentMove = 2;
var cmtfFolderImport = 3;
var cmtfFolderExport = 4;
// The visibility-options dialog.
var cvoDB = 1;
var cvoHTMLExport = 2;

// ---- Messages the viewer and the capture page share --------------------------------------------

var L_OPERATION_FAILED = "Operation failed with the following error:\n\n";
var L_FOLDER_EXISTS = "Folder with the same name already exists.\n\nPlease select another name.";

// ---- File dialog -----------------------------------------------------------------------------------

// Flags of the common file dialog, as the helper object's ShowBrowseDialogBox takes them.
var cdlOFNOverwritePrompt = 0x00000002;
var cdlOFNHideReadOnly = 0x00000004;
var cdlOFNPathMustExist = 0x00000800;
var cdlOFNFileMustExist = 0x00001000;
var cdlOFNCreatePrompt = 0x00002000;
var cdlOFNNoReadOnlyReturn = 0x00008000;
var cdlOFNExplorer = 0x00080000;
var cdlOFNLongNames = 0x00200000;

var L_Open_Dialog_Title = "Open";
var L_Import_Dialog_Title = "Import";
var L_Export_Dialog_Title = "Export";
// A filter is description and pattern pairs, all separated by "|".
var L_ALL_FILES_FILTER = "All files|*.*";
var L_QUILLET_EXT = "t-q";
var L_QUILLET_FILTER = "Clipvane files|*." + L_QUILLET_EXT + "|" + L_ALL_FILES_FILTER;
var L_HTML_EXT = "htm";
var L_HTML_FILTER = "HTML files|*." + L_HTML_EXT + "|" + L_ALL_FILES_FILTER;

// The help file, beside the helper library.
var cktHelpFile = "TKTHelp.chm";

// ---- Texts ---------------------------------------------------------------------------------------

// White space is these six characters only; a no-break space is kept as the user typed it.
var gsKtWhiteSpace = "[ \\t\\n\\x0B\\f\\r]";
var goKtOuterSpaces = new RegExp("^" + gsKtWhiteSpace + "+|" + gsKtWhiteSpace + "+$", "g");
var goKtSpaceRuns = new RegExp(gsKtWhiteSpace + "+", "g");

function fnKtText(someText)
{
    return (someText === undefined || someText === null) ? "" : String(someText);
}

// Characters that an XML 1.0 file cannot hold (controls other than white space, U+FFFE, U+FFFF,
// halves of surrogate pairs) are removed from typed text before it is stored: written into the
// collection they would make the whole file unreadable. Vertical tab and form feed are left to
// the white-space rules.
var goKtNonXMLCharacters = /[\x00-\x08\x0E-\x1F\uFFFE\uFFFF]|[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g;

function fnRemoveNonXMLCharacters(sText)
{
    return fnKtText(sText).replace(goKtNonXMLCharacters, "");
}

// The single-line rule: titles, comments on one line, folder names.
function fnRemoveWhiteSpaces(sText)
{
    return fnKtText(sText).replace(goKtOuterSpaces, "").replace(goKtSpaceRuns, " ");
}

// The multi-line rule for captured text. The order matters: blank lines are merged (step 7)
// before spaces around line feeds go (steps 8, 9), so a line of only spaces leaves two breaks.
function fnSpecialRemoveWhiteSpaces(sText)
{
    var s = fnKtText(sText).replace(goKtOuterSpaces, "");
    s = s.replace(/\x0B+/g, " ");
    s = s.replace(/\t+/g, " ");
    s = s.replace(/\r+/g, "\n");
    s = s.replace(/\f+/g, "\n");
    s = s.replace(/ {2,}/g, " ");
    s = s.replace(/\n{2,}/g, "\n");
    s = s.replace(/ \n/g, "\n");
    s = s.replace(/\n +/g, "\n");
    return s.replace(/\n/g, "\r\n");
}

// ---- Folders -------------------------------------------------------------------------------------

// Whether the folder element has a direct sub-folder of that name, without regard to case. The
// name is taken as given (callers normalise it); stored names are normalised here, since older
// files may hold names with runs of spaces.
function fnNodeHasChildWithName(oFolder, sName)
{
    var sWanted = fnKtText(sName).toUpperCase();
    for (var oChild = oFolder.firstChild; oChild; oChild = oChild.nextSibling) {
        if (oChild.nodeType != 1 || oChild.nodeName != "TavTracker:ktNODE")
            continue;
        if (fnRemoveWhiteSpaces(oChild.getAttribute("Name")).toUpperCase() == sWanted)
            return true;
    }
    return false;
}

// ---- Settings and history ------------------------------------------------------------------------

// A number setting comes as the helper object gives it (0 when absent); a text setting falls back
// to the default when absent or empty.
function fnGetSetting(sName, oDefault, bIsNumber)
{
    var oHelper = fnGetHelperObject();
    if (bIsNumber)
        return oHelper.RegistryDWORD(ccsModule, sName, ccsUserThenMachine);
    var sValue = oHelper.RegistryString(ccsModule, sName, ccsUserThenMachine);
    if (sValue === undefined || sValue === null || sValue === "")
        return oDefault;
    return sValue;
}

function fnSetSetting(sName, oValue, bIsNumber)
{
    var oHelper = fnGetHelperObject();
    if (bIsNumber)
        oHelper.put_RegistryDWORD(ccsModule, sName, ccsUserThenMachine, oValue);
    else
        oHelper.put_RegistryString(ccsModule, sName, ccsUserThenMachine, oValue);
}

function fnHistorySize(nMaxSize)
{
    return nMaxSize ? nMaxSize : cnHistoryDefaultSize;
}

// The entries of the history sName (values sName0, sName1, ...), newest first, up to the first
// absent or empty one.
function fnGetHistorySettings(sName, nMaxSize)
{
    var nSize = fnHistorySize(nMaxSize);
    var aEntries = [];
    for (var i = 0; i < nSize; i++) {
        var sEntry = fnGetSetting(sName + i, "", false);
        if (!sEntry)
            break;
        aEntries.push(sEntry);
    }
    return aEntries;
}

// Puts sValue at the front of the history. Nothing is written when it is already first, and
// entries are never deleted: the list only grows up to its size.
function fnAddHistorySetting(sName, sValue, nMaxSize)
{
    var nSize = fnHistorySize(nMaxSize);
    var aEntries = fnGetHistorySettings(sName, nSize);
    if (aEntries.length > 0 && aEntries[0] === sValue)
        return;
    for (var i = 0; i < aEntries.length; i++) {
        if (aEntries[i] === sValue) {
            aEntries.splice(i, 1);
            break;
        }
    }
    aEntries = aEntries.slice(0, nSize - 1);
    aEntries.unshift(sValue);
    for (var j = 0; j < aEntries.length; j++)
        fnSetSetting(sName + j, aEntries[j], false);
}

// ---- File dialog ---------------------------------------------------------------------------------

// The folder that holds a path, at its last "/" or "\"; "" when the path names none.
function fnFolderOfPath(sPath)
{
    var s = fnKtText(sPath);
    var nAt = Math.max(s.lastIndexOf("/"), s.lastIndexOf("\\"));
    if (nAt < 0)
        return "";
    if (nAt == 0)
        return s.charAt(0);
    return s.substring(0, nAt);
}

// Shows the Open or Save dialog. True when the user chose a file; its path is then FileName of
// the page's file-dialog state, which is emptied first. Any failure counts as cancelled.
function fnBrowseForFile(someOldFileName, someDialogTitle, someExtension, someFilter, someShowSave, someNoCreatePrompt, someFileMustExist)
{
    var sExtension = (someExtension === undefined || someExtension === null) ? L_QUILLET_EXT : someExtension;
    var sFilter = (someFilter === undefined || someFilter === null) ? L_QUILLET_FILTER : someFilter;
    var sTitle = (someDialogTitle === undefined || someDialogTitle === null) ? "" : someDialogTitle;
    var oBrowser = fnGetBrowserObject();
    oBrowser.FileName = "";

    var nFlags = cdlOFNExplorer | cdlOFNHideReadOnly | cdlOFNLongNames | cdlOFNNoReadOnlyReturn | cdlOFNPathMustExist;
    if (someFileMustExist == true || someNoCreatePrompt != true)
        nFlags |= cdlOFNFileMustExist;
    // Without the create prompt a new name is accepted as it is: the caller reports a missing file.
    if (someNoCreatePrompt == true)
        nFlags &= ~cdlOFNFileMustExist;
    else
        nFlags |= cdlOFNCreatePrompt;
    var bSaveGiven = someShowSave !== undefined && someShowSave !== null && someShowSave != false;
    if (bSaveGiven)
        nFlags |= cdlOFNOverwritePrompt;

    var sInitialFolder = fnFolderOfPath(someOldFileName);
    var sPath = "";
    try {
        sPath = fnGetHelperObject().ShowBrowseDialogBox(someShowSave == true ? 1 : 0, sTitle, sFilter, sExtension,
                                                        sInitialFolder, nFlags);
    } catch (e) {
        sPath = "";
    }
    if (sPath === undefined || sPath === null || sPath === "")
        return false;
    oBrowser.FileName = String(sPath);
    return true;
}

// ---- Dialogs -------------------------------------------------------------------------------------

// The element whose client area is the dialog's visible area: the body in pages written without
// a document type, the document element in standards mode.
function fnDialogClientBox()
{
    return document.compatMode == "BackCompat" ? document.body : document.documentElement;
}

// Grows the current modal dialog until its Cancel button fits, with a margin of the button's own
// height below and to the right of it: fonts and languages make some dialogs' content larger
// than the size they were opened with.
function fnResizeDialogIfNotFit()
{
    var oCancel = document.getElementById("Cancel") || document.getElementsByName("Cancel")[0];
    if (!oCancel)
        return;
    var oRect = oCancel.getBoundingClientRect();
    var nOuterHeight = parseInt(window.dialogHeight, 10);
    var nOuterWidth = parseInt(window.dialogWidth, 10);
    var oBox = fnDialogClientBox();
    var nInnerHeight = oBox.clientHeight + oBox.clientTop;
    var nInnerWidth = oBox.clientWidth + oBox.clientLeft;
    var nButtonHeight = oRect.bottom - oRect.top;

    if (oRect.bottom + 5 > nInnerHeight)
        window.dialogHeight = Math.ceil(oRect.bottom + nButtonHeight + nOuterHeight - nInnerHeight) + "px";
    if (oRect.right + 5 > nInnerWidth)
        window.dialogWidth = Math.ceil(oRect.right + nButtonHeight + nOuterWidth - nInnerWidth) + "px";
}

// ---- Popup menus ---------------------------------------------------------------------------------

// The lower-left corner of an element of a window or frame in screen coordinates: the window
// content's place on the screen (the host knows it; the window's outer origin includes its
// decorations), plus the frame's place in the window, plus the element's place in the frame.
function fnScreenPointBelow(oFrameWindow, sElementId)
{
    var oBox = oFrameWindow.document.getElementById(sElementId).getBoundingClientRect();
    var oFrameBox = oFrameWindow.frameElement ? oFrameWindow.frameElement.getBoundingClientRect() : { left: 0, top: 0 };
    var oOrigin = __tavreloHost.contentScreenOrigin();
    return { x: Math.round(oOrigin.x + oFrameBox.left + oBox.left), y: Math.round(oOrigin.y + oFrameBox.top + oBox.bottom) };
}

// Builds a popup menu (fnFill appends its items), shows it at the point and destroys it whatever
// happened; the chosen command number, 0 when dismissed. The menu belongs to the window of class
// sWindowClass; without one, to the application's window.
function fnTrackPopupMenu(oPoint, fnFill, sWindowClass)
{
    var oHelper = fnGetHelperObject();
    oHelper.PopupMenuCreate();
    var nMenu = oHelper.PopupMenuHandle;
    try {
        fnFill(oHelper);
        if (sWindowClass === undefined || sWindowClass === null)
            sWindowClass = top.oHTA ? top.oHTA.applicationName : "";
        return oHelper.PopupMenuTrack(oPoint.x, oPoint.y, sWindowClass);
    } finally {
        oHelper.PopupMenuDestroy(nMenu);
    }
}

// ---- Wait indicator ------------------------------------------------------------------------------

// Calls fnDo with the document of the window and of each of its frames, depth first. A frame
// that cannot be reached (still loading, or a page from elsewhere) is passed over.
function fnForEachFrameDocument(oWindow, fnDo)
{
    try {
        fnDo(oWindow.document);
    } catch (e) {
    }
    var nFrames = 0;
    try {
        nFrames = oWindow.frames.length;
    } catch (e) {
    }
    for (var i = 0; i < nFrames; i++) {
        var oFrame = null;
        try {
            oFrame = oWindow.frames[i];
        } catch (e) {
        }
        if (oFrame)
            fnForEachFrameDocument(oFrame, fnDo);
    }
}

function fnWaitCursorHolderOf(oDocument)
{
    return oDocument && oDocument.body ? oDocument.getElementById("WaitCursorHolder") : null;
}

function fnShowWaitCursor()
{
    fnForEachFrameDocument(top, function (oDocument) {
        var oHolder = fnWaitCursorHolderOf(oDocument);
        if (!oHolder)
            return;
        oHolder.style.display = "block";
        // Setting the source again restarts an animated image from its first frame.
        if (oHolder.src)
            oHolder.src = oHolder.src;
    });
}

// True when some frame shows the wait indicator.
function fnIsWaitCursorShown()
{
    var bShown = false;
    fnForEachFrameDocument(top, function (oDocument) {
        var oHolder = fnWaitCursorHolderOf(oDocument);
        if (oHolder && oHolder.style.display != "none")
            bShown = true;
    });
    return bShown;
}

function fnHideWaitCursor()
{
    fnForEachFrameDocument(top, function (oDocument) {
        var oHolder = fnWaitCursorHolderOf(oDocument);
        if (oHolder)
            oHolder.style.display = "none";
    });
}

// ---- Help and the viewer's tree ------------------------------------------------------------------

// The help viewer reports a missing file itself.
function fnShowTheHelp()
{
    window.showHelp(fnGetHelperObject().GetBaseDirectory() + "/" + cktHelpFile);
}

// The UIN of the folder selected in the viewer's tree, or -1 when none is selected. When the tree
// cannot be reached the error goes to the caller, which then takes -1 itself.
function fnGetFolderTreeUIN()
{
    var oUIN = top.fnGetTree().GetCurrentNodeUIN();
    if (oUIN === undefined || oUIN === null || oUIN === "")
        return -1;
    return oUIN;
}
