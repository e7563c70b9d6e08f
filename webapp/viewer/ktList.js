// The fragment list's markup, rendered from a collection document (the work of the list style
// sheet): one table per fragment, each followed by a rule, for the current folder's own fragments
// or for every fragment of the collection, in the chosen order and with the chosen fields.
// Everything a fragment holds is text: it is escaped, and only the stored line-break mark becomes
// a line break. A source address becomes a live link only for the schemes the desktop opens.

var cklLineBreakMark = "!BR/!";

// The sort keys (attribute names) and directions, by index.
var arAttributeNames = ["@" + cxbiAttName, "@" + cxbiAttDate, "@" + cxbiAttText, "@" + cxbiAttComment, "@" + cxbiAttURL];
var arDirectionSigns = ["+", "-"];

// Texts compare as the user's language orders them; creation dates (16 digits) as plain text,
// which is their chronological order.
var goListCollator = new Intl.Collator(undefined, { sensitivity: "variant" });
var goListDateFormat = new Intl.DateTimeFormat(undefined, { year: "numeric", month: "numeric", day: "numeric",
                                                            hour: "numeric", minute: "numeric", second: "numeric" });

function fnCompareText(a, b) { return goListCollator.compare(a, b); }
function fnComparePlain(a, b) { return a < b ? -1 : a > b ? 1 : 0; }

function fnSortExpression(nSortBy, nSortDirection)
{
    return arDirectionSigns[nSortDirection] + arAttributeNames[nSortBy];
}

// The fragments in the order of key nSortBy and direction nSortDirection (0 ascending, 1
// descending). A missing attribute sorts as an empty text; equal keys keep document order in
// both directions. The list and the HTML export both order fragments with this.
function fnSortFragments(aFragments, nSortBy, nSortDirection)
{
    var sAttribute = fnSortAttribute(nSortBy);
    var aKeys = new Array(aFragments.length);
    for (var i = 0; i < aFragments.length; i++)
        aKeys[i] = aFragments[i].getAttribute(sAttribute) || "";
    return Array.from(fnSortOrder(aKeys, nSortBy, nSortDirection), function (n) { return aFragments[n]; });
}

// The attribute of sort key nSortBy.
function fnSortAttribute(nSortBy)
{
    return arAttributeNames[nSortBy].substring(1);
}

// The positions of aKeys (the values of sort key nSortBy, "" for a missing one) in the order of
// that key and direction nSortDirection; equal keys keep their order.
function fnSortOrder(aKeys, nSortBy, nSortDirection)
{
    var nSign = nSortDirection == 1 ? -1 : 1;
    var fnCompare = fnSortAttribute(nSortBy) == cxbiAttDate ? fnComparePlain : fnCompareText;
    var aOrder = new Int32Array(aKeys.length);
    for (var i = 0; i < aOrder.length; i++)
        aOrder[i] = i;
    return aOrder.sort(function (a, b) {
        return nSign * fnCompare(aKeys[a], aKeys[b]) || a - b;
    });
}

// The fragments the list shows: with a folder UIN, that element's own fragment children (not
// those of its subfolders); with null, every fragment of the collection.
function fnListedFragments(oBase, sFolderUIN)
{
    var aFragments = [];
    if (sFolderUIN === null) {
        var oAll = oBase.getElementsByTagNameNS(cxbiNamespace, "ktFRAGMENT");
        for (var i = 0; i < oAll.length; i++)
            aFragments.push(oAll[i]);
        return aFragments;
    }
    var oFolder = fnFindFolderByUIN(oBase, sFolderUIN);
    if (!oFolder)
        return aFragments;
    for (var oChild = oFolder.firstChild; oChild; oChild = oChild.nextSibling) {
        if (oChild.nodeType == 1 && oChild.nodeName == cxbiFRAGMENT)
            aFragments.push(oChild);
    }
    return aFragments;
}

// Stored text as markup: escaped, with the line-break marks as line breaks.
function fnListText(sText)
{
    return fnTreeEscape(sText).split(cklLineBreakMark).join("<BR>");
}

function fnIsLiveAddress(sAddress)
{
    return /^(https?|ftp|mailto):/i.test(sAddress);
}

// The link of a source address. An address of any other scheme than the desktop opens
// (javascript:, file:, ...) is an anchor without a target address: it reads as text and does
// nothing.
function fnAddressLink(sURL)
{
    return "<A target=\"_blank\" class=\"BaseURL\" name=\"BaseURL\" id=\"BaseURL\"" +
        (fnIsLiveAddress(sURL) ? " HREF=\"" + fnTreeEscape(sURL) + "\"" : "") + ">" + fnListText(sURL) + "</A>";
}

// A creation date (milliseconds as decimal digits) as the local date and time.
function fnListDate(sCreationDate)
{
    var oDate = new Date(Number(sCreationDate));
    return isNaN(oDate.getTime()) ? sCreationDate : goListDateFormat.format(oDate);
}

function fnEditButton(sTitle)
{
    return "<IMG src=\"Edit.gif\" class=\"ChangeButton\" title=\"" + sTitle + "\" onclick=\"top.fnStartChange(this)\">";
}

var cklFragmentTools = "<SPAN class=\"FragmentTools\">" +
    "<IMG src=\"FragmentMove.gif\" class=\"MoveFragmentButton\" title=\"Move this citation to another folder\" onclick=\"top.fnFragmentMove(this)\">" +
    "<IMG src=\"FragmentDelete.gif\" class=\"RemoveFragmentButton\" title=\"Delete this citation\" onclick=\"top.fnFragmentDelete(this)\">" +
    "</SPAN>";

// One row: the field-name cell (with the move and delete buttons when they live in this row),
// the tools cell and the data cell. Without field names the buttons go to the tools cell, so
// that a fragment can still be moved and deleted.
function fnFragmentRow(sClass, sFieldName, bHasTools, sTools, sData, oOptions)
{
    var sRow = "<TR class=\"" + sClass + "\">";
    if (oOptions.bShowFieldNames)
        sRow += "<TD class=\"FieldTitle\">" + sFieldName + (bHasTools ? cklFragmentTools : "") + "</TD>" +
            "<TD class=\"FieldTools\">" + sTools + "</TD>";
    else
        sRow += "<TD class=\"FieldTools\">" + (bHasTools ? cklFragmentTools : "") + sTools + "</TD>";
    return sRow + "<TD>" + sData + "</TD></TR>";
}

// oOptions.fnFolderPath(oFragment, nIndex), when given, adds a row with the path of the
// fragment's folder (the results of a search come from every folder).
function fnRenderFragment(oFragment, oOptions, nIndex)
{
    var sUIN = fnTreeEscape(oFragment.getAttribute(cxbiAttUIN));
    var sDate = oFragment.getAttribute(cxbiAttDate);
    var sURL = oFragment.getAttribute(cxbiAttURL) || "";
    // The move and delete buttons sit in the title row, else in the first row shown after it.
    var sToolsRow = oOptions.bShowTitle ? "TitleAndDate" : oOptions.bShowText ? "Text" :
        oOptions.bShowComment ? "Comment" : "BaseURL";
    var sTable = "<TABLE class=\"Fragment\" NAME=\"id" + sUIN + "\" ID=\"id" + sUIN + "\" UIN=\"" + sUIN + "\" COLS=\"" +
        (oOptions.bShowFieldNames ? 3 : 2) + "\">" +
        (oOptions.bShowFieldNames ? "<COL style=\"width:9em;\"><COL class=\"FieldTools\" style=\"width:15px;\"><COL style=\"width:90%;\">"
                                  : "<COL class=\"FieldTools\" style=\"width:15px;\"><COL style=\"width:98%;\">");
    if (oOptions.fnFolderPath)
        sTable += fnFragmentRow("FolderPath", L_SEARCH_IN, false, "",
            "<SPAN class=\"SearchPath\">" + fnTreeEscape(oOptions.fnFolderPath(oFragment, nIndex)) + "</SPAN>", oOptions);
    if (oOptions.bShowTitle) {
        var sData = "";
        if (oOptions.bShowDate && sDate !== null)
            sData += "<SPAN class=\"Date\" id=\"FragmentDate\">" + fnTreeEscape(fnListDate(sDate)) + "</SPAN>";
        sData += "<SPAN class=\"FragmentTitle\" id=\"FragmentTitle\">" + fnListText(oFragment.getAttribute(cxbiAttName)) + "</SPAN>";
        sTable += fnFragmentRow("TitleAndDate", "Title:", sToolsRow == "TitleAndDate", fnEditButton(" Edit"), sData, oOptions);
    }
    if (oOptions.bShowText)
        sTable += fnFragmentRow("Text", "Text:", sToolsRow == "Text", fnEditButton("Edit") +
            "<IMG src=\"FragmentExpand.gif\" class=\"ExpandButton\" name=\"ExpandCollapse\" id=\"ExpandCollapse\" " +
            "title=\"Expand or collapse text\" onclick=\"top.fnExpandCollapseText(this)\">",
            "<DIV class=\"FragmentText\" id=\"FragmentText\" style=\"width:100%;\">" +
            fnListText(oFragment.getAttribute(cxbiAttText)) + "</DIV>", oOptions);
    if (oOptions.bShowComment)
        sTable += fnFragmentRow("Comment", "Comment: ", sToolsRow == "Comment", fnEditButton("Edit"),
            "<DIV class=\"FragmentComment\" id=\"FragmentComment\">" + fnListText(oFragment.getAttribute(cxbiAttComment)) +
            "</DIV>", oOptions);
    if (oOptions.bShowURL)
        sTable += fnFragmentRow("BaseURL", " From: ", sToolsRow == "BaseURL", fnEditButton("Edit "),
            "<DIV class=\"BaseURLText\" id=\"BaseURLText\" HREF=\"" + fnTreeEscape(sURL) + "\">" + fnAddressLink(sURL) + "</DIV>",
            oOptions);
    return sTable + "</TABLE><HR>";
}

// The fragments of a list in its order: oParams.sFolderUIN (null for every fragment of the
// collection), oParams.nSortBy and oParams.nSortDirection.
function fnListFragments(oBase, oParams)
{
    return fnSortFragments(fnListedFragments(oBase, oParams.sFolderUIN), oParams.nSortBy, oParams.nSortDirection);
}

// The markup of aFragments[nFrom] up to (not including) aFragments[nTo], with the visibility
// options oOptions.
function fnRenderFragments(aFragments, nFrom, nTo, oOptions)
{
    var aParts = new Array(nTo - nFrom);
    for (var i = nFrom; i < nTo; i++)
        aParts[i - nFrom] = fnRenderFragment(aFragments[i], oOptions, i);
    return aParts.join("");
}

// The whole list's markup; oParams as for fnListFragments, with oParams.oOptions.
function fnRenderFragmentList(oBase, oParams)
{
    var aFragments = fnListFragments(oBase, oParams);
    return fnRenderFragments(aFragments, 0, aFragments.length, oParams.oOptions);
}
