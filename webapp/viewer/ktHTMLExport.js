// Export as HTML: the current folder with all its subfolders as one self-contained page — a table
// of contents (optional), then a section for every folder that holds fragments, each fragment a
// small table — with the fields the user chose. The page is opened later in a browser, so
// everything from the collection is escaped text, and a source link is written only for the
// addresses the desktop opens.

var L_HTML_NO_CITATIONS = "There are no citations to export.\n\nNeither current folder, nor its subfolders contain citations.";
var L_HTML_NO_FIELDS = "No exportable fields are visible.\n\nTurn one of them on and try again.";
var L_HTML_WRITE_FAILED_1 = "Failed to write to a file:\n";
var L_HTML_WRITE_FAILED_2 = "\n\nEither a file could not be created or text cannot be saved in it.";

var kHTMLStyle =
    "H2,H3 { font-family: Verdana, sans-serif; font-size: 10pt; }\n" +
    "BODY { font-family: Verdana, sans-serif; font-size: 10pt; text-align: center; }\n" +
    "TD.Contents { background-color: #f3f3f3; }\n" +
    "DIV.ContentsEntry { font-family: Verdana, sans-serif; font-size: 10pt; text-align: left; margin-left: 15pt; }\n" +
    "TABLE.Fragment, TD.FieldTitle, TD.FieldData { font-family: Verdana, sans-serif; font-size: 10pt; padding: 0px; margin: 0px; vertical-align: text-top; }\n" +
    "TD.FieldTitle { background-color: #E0E0E0; }\n" +
    "TD.FieldData { background-color: #f3f3f3; }\n" +
    "DIV.EmptyFolder { font-style: italic; }\n" +
    "DIV.Source { padding-left: 3px; padding-top: 0px; padding-bottom: 0px; margin-top: 0px; margin-bottom: 0px; display: block; float: right; text-align: right; vertical-align: top; font-size: x-small; }\n" +
    "TD.ContentsHead, TD.FolderHead { text-align: center; background-color: #f3f3f3; }\n";

// ---- The page --------------------------------------------------------------------------------------

function fnHTMLText(sText)
{
    return fnTreeEscape(sText).split(cklLineBreakMark).join("<BR/>");
}

function fnChildElements(oElement, sName)
{
    var aChildren = [];
    for (var oChild = oElement.firstChild; oChild; oChild = oChild.nextSibling) {
        if (oChild.nodeType == 1 && oChild.nodeName == sName)
            aChildren.push(oChild);
    }
    return aChildren;
}

// A folder's subfolders in ascending name order, compared as the list compares texts.
function fnHTMLChildFolders(oFolder)
{
    return fnChildElements(oFolder, cxbiNODE).sort(function (a, b) {
        return fnCompareText(a.getAttribute(cxbiAttName) || "", b.getAttribute(cxbiAttName) || "");
    });
}

function fnHasOwnFragments(oFolder)
{
    return fnChildElements(oFolder, cxbiFRAGMENT).length > 0;
}

function fnHasFragmentsBelow(oFolder)
{
    return oFolder.getElementsByTagNameNS(cxbiNamespace, "ktFRAGMENT").length > 0;
}

function fnHTMLFragment(oFragment, oOptions)
{
    var sURL = oFragment.getAttribute(cxbiAttURL) || "";
    var sSource = oOptions.bShowURL && fnIsLiveAddress(sURL) ?
        "<DIV class=\"Source\" TITLE=\"Jump to citation source\">| <A TARGET=\"_blank\" HREF=\"" + fnTreeEscape(sURL) +
        "\">Source...</A></DIV>" : "";
    // Without the title row the source link goes to the top of the first data cell shown.
    var sSourceRow = oOptions.bShowTitle ? "TitleAndDate" : oOptions.bShowText ? "Text" : "Comment";
    function fnRow(sClass, sFieldName, sData)
    {
        return "<TR class=\"" + sClass + "\">" +
            (oOptions.bShowFieldNames ? "<TD class=\"FieldTitle\" WIDTH=\"3em\">" + sFieldName + "</TD>" : "") +
            "<TD class=\"FieldData\" WIDTH=\"" + (oOptions.bShowFieldNames ? "90%" : "99%") + "\">" +
            (sSourceRow == sClass ? sSource : "") + sData + "</TD></TR>";
    }
    var sRows = "";
    if (oOptions.bShowTitle)
        sRows += fnRow("TitleAndDate", "Title:", "<DIV class=\"FragmentTitle\">" + fnHTMLText(oFragment.getAttribute(cxbiAttName)) + "</DIV>");
    if (oOptions.bShowText)
        sRows += fnRow("Text", "Text:", "<DIV>" + fnHTMLText(oFragment.getAttribute(cxbiAttText)) + "</DIV>");
    if (oOptions.bShowComment)
        sRows += fnRow("Comment", "Comment: ", "<DIV>" + fnHTMLText(oFragment.getAttribute(cxbiAttComment)) + "&nbsp;</DIV>");
    return "<TABLE CLASS=\"Fragment\" COLS=\"" + (oOptions.bShowFieldNames ? 2 : 1) + "\" WIDTH=\"600\"><TBODY>" + sRows +
        "</TBODY><TFOOT><TR><TD COLSPAN=\"2\"><HR></TD></TR></TFOOT></TABLE>";
}

// The contents entry of a folder: a link when it holds fragments itself, its name as text when
// it holds some below, nothing otherwise; its subfolders' entries nested inside.
function fnHTMLContentsEntry(oFolder, bAlwaysNamed)
{
    var sName = fnTreeEscape(oFolder.getAttribute(cxbiAttName));
    var sLabel = fnHasOwnFragments(oFolder) ? "<A HREF=\"#href" + fnTreeEscape(oFolder.getAttribute(cxbiAttUIN)) + "\">" + sName + "</A>" :
        bAlwaysNamed || fnHasFragmentsBelow(oFolder) ? sName : null;
    if (sLabel === null)
        return "";
    var aChildren = fnHTMLChildFolders(oFolder), sEntries = "";
    for (var i = 0; i < aChildren.length; i++)
        sEntries += fnHTMLContentsEntry(aChildren[i], false);
    return "<DIV class=\"ContentsEntry\">" + sLabel + sEntries + "</DIV>";
}

function fnHTMLSections(oFolder, sHeading, oOptions, nSortBy, nSortDirection)
{
    var sRows = "";
    if (fnHasOwnFragments(oFolder)) {
        var aFragments = fnSortFragments(fnChildElements(oFolder, cxbiFRAGMENT), nSortBy, nSortDirection);
        var sFragments = "";
        for (var i = 0; i < aFragments.length; i++)
            sFragments += fnHTMLFragment(aFragments[i], oOptions);
        sRows += "<TR><TD>&nbsp;</TD></TR><TR><TD class=\"FolderHead\"><" + sHeading + "><A NAME=\"href" +
            fnTreeEscape(oFolder.getAttribute(cxbiAttUIN)) + "\">" + fnTreeEscape(oFolder.getAttribute(cxbiAttName)) + "</A></" +
            sHeading + "></TD></TR><TR><TD>" + sFragments + "</TD></TR>";
    }
    var aChildren = fnHTMLChildFolders(oFolder);
    for (var j = 0; j < aChildren.length; j++)
        sRows += fnHTMLSections(aChildren[j], "H3", oOptions, nSortBy, nSortDirection);
    return sRows;
}

// The whole page for oFolder; oOptions as the visibility dialog gives them (bShowContents,
// bShowFieldNames, bShowTitle, bShowText, bShowComment, bShowURL).
function fnRenderHTMLExport(oFolder, oOptions, nSortBy, nSortDirection)
{
    var sRows = "";
    var bSubfoldersHoldFragments = fnChildElements(oFolder, cxbiNODE).some(fnHasFragmentsBelow);
    if (oOptions.bShowContents && bSubfoldersHoldFragments)
        sRows += "<TR><TD class=\"ContentsHead\"><H2>Contents</H2></TD></TR><TR><TD WIDTH=\"600\" Class=\"Contents\">" +
            fnHTMLContentsEntry(oFolder, true) + "</TD></TR>";
    sRows += fnHTMLSections(oFolder, "H2", oOptions, nSortBy, nSortDirection);
    return "<HTML>\n<HEAD>\n<TITLE>" + fnTreeEscape(oFolder.getAttribute(cxbiAttName)) + "</TITLE>\n<STYLE>\n" + kHTMLStyle +
        "</STYLE>\n</HEAD>\n<BODY>\n<DIV ALIGN=\"center\" WIDTH=\"600px\"><TABLE Class=\"TheData\" COLS=\"1\" WIDTH=\"600\">\n" +
        sRows + "\n</TABLE></DIV>\n</BODY>\n</HTML>\n";
}

// ---- The command -----------------------------------------------------------------------------------

// The export's options as stored (each a hide setting); when title, text and comment would all
// be hidden, everything is shown.
function fnReadHTMLExportOptions()
{
    function fnShown(sName) { return Number(fnGetSetting(sName, 0, true)) == 0; }
    var oOptions = {
        nMode: cvoHTMLExport,
        bShowContents: fnShown(ccsHTMLVHideContents),
        bShowFieldNames: fnShown(ccsHTMLVHideFieldNames),
        bShowTitle: fnShown(ccsHTMLVHideTitle),
        bShowDate: false,
        bShowText: fnShown(ccsHTMLVHideText),
        bShowComment: fnShown(ccsHTMLVHideComment),
        bShowURL: fnShown(ccsHTMLVHideURL),
    };
    if (!oOptions.bShowTitle && !oOptions.bShowText && !oOptions.bShowComment)
        oOptions.bShowContents = oOptions.bShowFieldNames = oOptions.bShowTitle = oOptions.bShowText =
            oOptions.bShowComment = oOptions.bShowURL = true;
    return oOptions;
}

function fnStoreHTMLExportOptions(oOptions)
{
    fnSetSetting(ccsHTMLVHideContents, oOptions.bShowContents ? 0 : 1, true);
    fnSetSetting(ccsHTMLVHideFieldNames, oOptions.bShowFieldNames ? 0 : 1, true);
    fnSetSetting(ccsHTMLVHideTitle, oOptions.bShowTitle ? 0 : 1, true);
    fnSetSetting(ccsHTMLVHideText, oOptions.bShowText ? 0 : 1, true);
    fnSetSetting(ccsHTMLVHideComment, oOptions.bShowComment ? 0 : 1, true);
    fnSetSetting(ccsHTMLVHideURL, oOptions.bShowURL ? 0 : 1, true);
}

function fnHTMLExport()
{
    try {
        var oFolder = null;
        try {
            oFolder = gbCollectionOpen ? fnFindFolder(String(fnGetFolderTreeUIN())) : null;
        } catch (e) {
            oFolder = null;
        }
        if (!oFolder) {
            alert(L_FOLDER_NOT_FOUND);
            return;
        }
        if (!fnHasFragmentsBelow(oFolder)) {
            alert(L_HTML_NO_CITATIONS);
            return;
        }
        if (!fnBrowseForFile(gsCurrentPath, L_Export_Dialog_Title, L_HTML_EXT, L_HTML_FILTER, true))
            return;
        var sPath = fnGetBrowserObject().FileName;
        var oOptions = fnReadHTMLExportOptions();
        if (!fnShowVisibilityDialog(oOptions))
            return;
        if (!oOptions.bShowTitle && !oOptions.bShowText && !oOptions.bShowComment) {
            alert(L_HTML_NO_FIELDS);
            return;
        }
        fnStoreHTMLExportOptions(oOptions);
        if (gnSortBy == -1 || gnSortDirection == -1)
            fnInitSortMode();
        var sPage = fnSpecialRemoveWhiteSpaces(fnRenderHTMLExport(oFolder, oOptions, gnSortBy, gnSortDirection));
        try {
            // Written beside the target and then put in its place: a failed write leaves an existing
            // page as it was.
            __tavreloHost.writeTextFile(sPath, sPage, "utf-16le");
        } catch (e) {
            alert(L_HTML_WRITE_FAILED_1 + sPath + L_HTML_WRITE_FAILED_2);
        }
    } catch (e) {
        fnReportCommandError(e);
    }
}
