// The fragment list in the right frame: rebuilding it (in chunks when it is long), the sort order
// with its menu and settings, the selection commands act on, expanding and collapsing texts, and
// the visibility options with their dialog.

// ---- Texts ---------------------------------------------------------------------------------------

var L_NO_CITATIONS = "There are no citations in this folder.";
var L_SELECT_CITATION = "You should select at least one citation to use this command.";
var arSortFields = ["Sort by &Title", "Sort by &Date", "Sort by Te&xt", "Sort by &Comment", "Sort by &URL"];
var arSortDirections = ["Sort &Ascending", "Sort D&escending"];

// ---- List state ----------------------------------------------------------------------------------

var gnSortBy = -1;
var gnSortDirection = -1;
var FolderChangeTimer = -1;
// The list being inserted in chunks: {aFragments, nNext, oOptions, oFolder}; null when none. A
// chunk's markup is made when it is inserted, so that a long list never holds the window up.
var goQueuedList = null;
var kListChunk = 20;        // fragments a chunk
var kListChunkMs = 200;
var kListChunkedFrom = 10;  // shorter lists are inserted whole

var goVisibilityOptions = null; // the visibility options, read at the first list

// ---- Rebuilding the list -------------------------------------------------------------------------

function fnCancelListTransfer()
{
    if (FolderChangeTimer != -1)
        clearTimeout(FolderChangeTimer);
    FolderChangeTimer = -1;
    goQueuedList = null;
}

function OnFolderChanged()
{
    var oHolder = fnGetQuilletHolder();
    oHolder.innerHTML = "";
    fnCancelListTransfer();
    // Nothing is listed while no collection is open (a load stopped or failed).
    if (!goBase || !gbCollectionOpen)
        return;
    fnShowWaitCursor();
    try {
        goCurrentFolderUIN = fnGetFolderTreeUIN();
    } catch (e) {
        goCurrentFolderUIN = -1;
    }
    if (String(goCurrentFolderUIN) != "-1")
        fnGetDatabaseElement(goBase).setAttribute(cxbiAttCurrentNode, String(goCurrentFolderUIN));
    if (gnSortBy == -1 || gnSortDirection == -1)
        fnInitSortMode();
    // While a search runs the list shows its results, searched again on the current collection.
    if (fnIsSearching()) {
        fnRunSearch();
        return;
    }
    var aFragments = fnListFragments(goBase, {
        sFolderUIN: gbFilterByFolder ? String(goCurrentFolderUIN) : null,
        nSortBy: gnSortBy,
        nSortDirection: gnSortDirection,
    });
    fnFrame("ktRightFrame").getSelection().removeAllRanges();
    if (!aFragments.length) {
        oHolder.innerHTML = "<DIV class=\"NoQuillet\">" + L_NO_CITATIONS + "</DIV>";
        fnHideWaitCursor();
    } else {
        fnShowListOf(aFragments, fnGetVisibilityOptions());
    }
}

// True when the list may show fragments of any folder: the folder filter is off, or it shows
// the results of a search.
function fnListShowsAllFolders()
{
    return !gbFilterByFolder || fnIsSearching();
}

// Appends the fragments to the list: at once when there are few, else in chunks.
function fnShowListOf(aFragments, oOptions)
{
    if (aFragments.length >= kListChunkedFrom) {
        goQueuedList = { aFragments: aFragments, nNext: 0, oOptions: oOptions,
                         oFolder: fnListShowsAllFolders() ? null : fnFindFolderByUIN(goBase, String(goCurrentFolderUIN)) };
        fnTransferItem();
    } else {
        fnInsertListPart(aFragments, 0, aFragments.length, oOptions);
        fnHideWaitCursor();
    }
}

// Whether the collection still holds the queued fragment where the list shows it: a change made
// while the list is being inserted (a delete, a move) may have taken it away.
function fnIsStillListed(oQueue, oFragment)
{
    if (!goBase.documentElement || !goBase.documentElement.contains(oFragment))
        return false;
    return !oQueue.oFolder || oFragment.parentNode === oQueue.oFolder;
}

// Appends aFragments[nFrom] up to (not including) aFragments[nTo], of a queued list (oQueue) only
// those it still holds; the results of a search get their matched words marked.
function fnInsertListPart(aFragments, nFrom, nTo, oOptions, oQueue)
{
    var oHolder = fnGetQuilletHolder();
    var oLast = oHolder.lastElementChild;
    var sMarkup = "";
    if (!oQueue) {
        sMarkup = fnRenderFragments(aFragments, nFrom, nTo, oOptions);
    } else {
        var aParts = [];
        for (var i = nFrom; i < nTo; i++) {
            if (fnIsStillListed(oQueue, aFragments[i]))
                aParts.push(fnRenderFragments(aFragments, i, i + 1, oOptions));
        }
        sMarkup = aParts.join("");
    }
    oHolder.insertAdjacentHTML("beforeend", sMarkup);
    if (!oOptions.aSearchTerms)
        return;
    var aTables = [];
    for (var oBlock = oLast ? oLast.nextElementSibling : oHolder.firstElementChild; oBlock; oBlock = oBlock.nextElementSibling) {
        if (oBlock.tagName == "TABLE")
            aTables.push(oBlock);
    }
    fnMarkSearchTerms(aTables, oOptions.aSearchTerms);
}

// Inserts the next chunk of the queued list; the rest follows on a timer.
function fnTransferItem()
{
    if (FolderChangeTimer != -1)
        clearTimeout(FolderChangeTimer);
    FolderChangeTimer = -1;
    var oQueue = goQueuedList;
    if (!oQueue)
        return;
    var nTo = Math.min(oQueue.nNext + kListChunk, oQueue.aFragments.length);
    fnInsertListPart(oQueue.aFragments, oQueue.nNext, nTo, oQueue.oOptions, oQueue);
    oQueue.nNext = nTo;
    if (nTo < oQueue.aFragments.length) {
        FolderChangeTimer = setTimeout(fnTransferItem, kListChunkMs);
    } else {
        goQueuedList = null;
        fnHideWaitCursor();
    }
}

// ---- Sorting -------------------------------------------------------------------------------------

function fnSortModeSelect()
{
    try {
        var nSortBy = gnSortBy == -1 ? 1 : gnSortBy;
        var nDirection = gnSortDirection == -1 ? 0 : gnSortDirection;
        var oPoint = fnScreenPointBelow(fnFrame("ktToolBars"), "ktsSortModes");
        var nChoice;
        try {
            nChoice = fnTrackPopupMenu(oPoint, function (oHelper) {
                for (var i = 0; i < arSortFields.length; i++)
                    oHelper.PopupMenuAppendItem(arSortFields[i], i + 1, 1, i == nSortBy ? 1 : 0);
                oHelper.PopupMenuAppendSeparator();
                for (var j = 0; j < arSortDirections.length; j++)
                    oHelper.PopupMenuAppendItem(arSortDirections[j], arSortFields.length + j + 1, 1, j == nDirection ? 1 : 0);
            }) - 1;
        } finally {
            fnUnstickButton("ktsSortModes");
        }
        if (nChoice >= 0 && nChoice < arSortFields.length)
            fnSortBy(nChoice, -1, true);
        else if (nChoice >= arSortFields.length && nChoice < arSortFields.length + arSortDirections.length)
            fnSortBy(-1, nChoice - arSortFields.length, true);
    } catch (e) {
        fnReportCommandError(e);
    }
}

// Sets the key (0 to 4) and the direction (0 ascending, 1 descending); any other value keeps the
// current one. The settings store each index + 1, so that an absent setting (0) means unset.
function fnSortBy(nSortBy, nSortDirection, bRefresh)
{
    if (gnSortBy == -1)
        gnSortBy = 1;
    if (gnSortDirection == -1)
        gnSortDirection = 0;
    if (nSortBy >= 0 && nSortBy < arAttributeNames.length)
        gnSortBy = nSortBy;
    if (nSortDirection == 0 || nSortDirection == 1)
        gnSortDirection = nSortDirection;
    fnSetSetting(ccsSortBy, gnSortBy + 1, true);
    fnSetSetting(ccsSortDirection, gnSortDirection + 1, true);
    if (bRefresh !== false)
        OnFolderChanged();
}

// The order of the first list: the stored one, else by date, newest first.
function fnInitSortMode()
{
    function fnStored(sName, nLast)
    {
        var nValue = Number(fnGetSetting(sName, 0, true));
        nValue = !nValue || isNaN(nValue) ? 1 : nValue - 1;
        return nValue < 0 || nValue > nLast ? 1 : nValue;
    }
    if (gnSortBy == -1)
        gnSortBy = fnStored(ccsSortBy, arAttributeNames.length - 1);
    if (gnSortDirection == -1)
        gnSortDirection = fnStored(ccsSortDirection, arDirectionSigns.length - 1);
    fnSortBy(-1, -1, false);
}

// ---- The fragments a command acts on -------------------------------------------------------------

// The fragment tables of the list, in document order: with a selection, those whose whole text
// lies within it (the selection is first widened to whole fragments); without one, all of them.
// Returns {aTables, oRange} (oRange null without a selection), or null when there is nothing to
// act on; bSelectionRequired then tells the user to select something.
function fnBuildSelectedTablesArray(bSelectionRequired)
{
    var oFrame = fnFrame("ktRightFrame");
    oFrame.fnExpandSelection();
    var oSelection = oFrame.getSelection();
    var oRange = oSelection.rangeCount ? oSelection.getRangeAt(0).cloneRange() : null;
    oSelection.removeAllRanges();
    if (oRange && oRange.collapsed)
        oRange = null;
    if (bSelectionRequired && !oRange) {
        alert(L_SELECT_CITATION);
        return null;
    }
    var aTables = [];
    var oTables = fnGetQuilletHolder().getElementsByTagName("TABLE");
    for (var i = 0; i < oTables.length; i++) {
        var oTable = oTables[i];
        if (oTable.className != "Fragment" || !oTable.getAttribute("UIN"))
            continue;
        if (oRange) {
            var oWhole = oFrame.document.createRange();
            oWhole.selectNodeContents(oTable);
            if (oRange.compareBoundaryPoints(Range.START_TO_START, oWhole) > 0 ||
                oRange.compareBoundaryPoints(Range.END_TO_END, oWhole) < 0)
                continue;
        }
        aTables.push(oTable);
    }
    if (!aTables.length) {
        if (bSelectionRequired)
            alert(L_SELECT_CITATION);
        return null;
    }
    return { aTables: aTables, oRange: oRange };
}

// ---- Expanding and collapsing texts --------------------------------------------------------------

// nMode 0 collapses, 1 expands, 2 toggles. An expanded text shows whole; collapsing re-creates
// the text element from its own markup, which returns it to the list's scrolling box.
function fnPerformExpandCollapse(oButton, oText, nMode)
{
    var sOverflow = oText.ownerDocument.defaultView.getComputedStyle(oText).overflow;
    if (nMode == 1 || (nMode == 2 && sOverflow == "auto")) {
        oText.style.overflow = "visible";
        oText.style.height = "auto";
        oButton.src = "FragmentCollapse.gif";
    } else if (nMode == 0 || (nMode == 2 && sOverflow == "visible")) {
        oText.style.overflow = "";
        oText.style.height = "";
        oText.outerHTML = oText.outerHTML;
        oButton.src = "FragmentExpand.gif";
    } else {
        return;
    }
    oButton.style.display = "inline";
}

function fnExpandCollapseText(oButton)
{
    var oRow = oButton.closest("TR");
    var oText = oRow && oRow.querySelector(".FragmentText");
    if (oText)
        fnPerformExpandCollapse(oButton, oText, 2);
}

// Expands or collapses the texts of the selected fragments, or of all when nothing is selected;
// the selection is shown again afterwards.
function fnExpandCollapseFraments(bExpand)
{
    var oSelected = fnBuildSelectedTablesArray(false);
    if (!oSelected)
        return;
    for (var i = 0; i < oSelected.aTables.length; i++) {
        var oTable = oSelected.aTables[i];
        var oText = oTable.querySelector(".FragmentText"), oButton = oTable.querySelector(".ExpandButton");
        if (oText && oButton)
            fnPerformExpandCollapse(oButton, oText, bExpand ? 1 : 0);
    }
    if (oSelected.oRange)
        fnFrame("ktRightFrame").getSelection().addRange(oSelected.oRange);
}

// ---- Visibility options --------------------------------------------------------------------------

// The options as stored: any non-zero value is true; when none of the five fields would be shown,
// all five are.
function fnReadVisibilityOptions()
{
    function fnFlag(sName) { return Number(fnGetSetting(sName, 0, true)) != 0; }
    var oOptions = {
        bShowFieldNames: !fnFlag(ccsVHideFieldNames),
        bShowTitle: fnFlag(ccsVShowTitle),
        bShowDate: fnFlag(ccsVShowDate),
        bShowText: fnFlag(ccsVShowText),
        bShowComment: fnFlag(ccsVShowComment),
        bShowURL: fnFlag(ccsVShowURL),
        nMode: cvoDB,
        bShowContents: false,
    };
    if (!oOptions.bShowTitle && !oOptions.bShowDate && !oOptions.bShowText && !oOptions.bShowComment && !oOptions.bShowURL)
        oOptions.bShowTitle = oOptions.bShowDate = oOptions.bShowText = oOptions.bShowComment = oOptions.bShowURL = true;
    return oOptions;
}

// Read once a run, at the first list.
function fnGetVisibilityOptions()
{
    if (!goVisibilityOptions)
        goVisibilityOptions = fnReadVisibilityOptions();
    return goVisibilityOptions;
}

var kVisibilityFields = ["bShowContents", "bShowFieldNames", "bShowTitle", "bShowDate", "bShowText", "bShowComment", "bShowURL"];

// Opens the visibility dialog on oOptions (its nMode says which); true after OK, with oOptions'
// fields updated. The dialog works on a copy, as every dialog argument is copied into the
// dialog's window, and returns the chosen options, which are copied back here.
function fnShowVisibilityDialog(oOptions)
{
    var oChosen = window.showModalDialog("ktVisibilityOptions.htm", oOptions, "help:no; resizable:no; status:no;");
    if (!oChosen || typeof oChosen != "object")
        return undefined;
    for (var i = 0; i < kVisibilityFields.length; i++)
        oOptions[kVisibilityFields[i]] = !!oChosen[kVisibilityFields[i]];
    return true;
}

function fnChangeVisibilityOptions()
{
    try {
        var oOptions = fnGetVisibilityOptions();
        oOptions.nMode = cvoDB;
        if (!fnShowVisibilityDialog(oOptions))
            return;
        fnSetSetting(ccsVHideFieldNames, oOptions.bShowFieldNames ? 0 : 1, true);
        fnSetSetting(ccsVShowTitle, oOptions.bShowTitle ? 1 : 0, true);
        fnSetSetting(ccsVShowDate, oOptions.bShowDate ? 1 : 0, true);
        fnSetSetting(ccsVShowText, oOptions.bShowText ? 1 : 0, true);
        fnSetSetting(ccsVShowComment, oOptions.bShowComment ? 1 : 0, true);
        fnSetSetting(ccsVShowURL, oOptions.bShowURL ? 1 : 0, true);
        OnFolderChanged();
    } catch (e) {
        fnReportCommandError(e);
    }
}
