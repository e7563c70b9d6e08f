// The folder outline's markup, rendered from a collection document (the work of the tree style
// sheet): nested lists of items, each with its label first, then the sublist of its folders.
// Names are text: every character of a name is shown as written, never read as markup.

var kTreeTrue = "1", kTreeFalse = "0";

var kTreeEntities = { "&": "&amp;", "<": "&lt;", ">": "&gt;", "\"": "&quot;" };

function fnTreeEscape(sText)
{
    return String(sText === null || sText === undefined ? "" : sText).replace(/[&<>"]/g, function (c) { return kTreeEntities[c]; });
}

// The folders directly under `oElement`, in the order the outline shows them: under the root
// folder the default folder first, then the others; each group in ascending order of name.
function fnTreeChildFolders(oElement, bIsDatabase)
{
    var aFolders = [];
    for (var oChild = oElement.firstChild; oChild; oChild = oChild.nextSibling) {
        if (oChild.nodeType == 1 && oChild.nodeName == cxbiNODE)
            aFolders.push(oChild);
    }
    var fnByName = function (a, b) {
        return String(a.getAttribute(cxbiAttName) || "").localeCompare(String(b.getAttribute(cxbiAttName) || ""));
    };
    if (!bIsDatabase)
        return aFolders.sort(fnByName);
    var aDefault = aFolders.filter(function (o) { return o.getAttribute(cxbiAttUnsorted) == "1"; });
    var aOthers = aFolders.filter(function (o) { return o.getAttribute(cxbiAttUnsorted) === null; });
    return aDefault.sort(fnByName).concat(aOthers.sort(fnByName));
}

function fnRenderTreeItem(oElement, sCurrentNode, bIsDatabase)
{
    var aChildren = fnTreeChildFolders(oElement, bIsDatabase);
    var sUIN = oElement.getAttribute(cxbiAttUIN);
    var sItem = "<LI class=\"" + (bIsDatabase ? "FolderExpanded" : "FolderCollapsed") + "\" UIN=\"" + fnTreeEscape(sUIN) + "\"";
    if (bIsDatabase)
        sItem += " IsDatabase=\"1\"";
    sItem += " IsExpandable=\"" + (aChildren.length ? "true" : "false") + "\" IsExpanded=\"" + (bIsDatabase ? kTreeTrue : kTreeFalse) + "\"";
    if (!bIsDatabase && oElement.getAttribute(cxbiAttUnsorted) == "1")
        sItem += " IsUnsortedNode=\"1\"";
    sItem += "><SPAN class=\"FolderNameNotFocused\" name=\"FolderName\" nowrap IsFocused=\"" +
        (sCurrentNode !== null && sUIN == sCurrentNode ? "true" : "false") + "\">" +
        fnTreeEscape(oElement.getAttribute(cxbiAttName)) + "</SPAN>";
    if (aChildren.length) {
        sItem += "<UL class=\"SubTree\" name=\"SubTree\" id=\"SubTree\">";
        for (var i = 0; i < aChildren.length; i++)
            sItem += fnRenderTreeItem(aChildren[i], sCurrentNode, false);
        sItem += "</UL>";
    }
    return sItem + "</LI>";
}

// The whole outline of `oBase`, or "" when it has no root folder.
function fnRenderFolderTree(oBase)
{
    var oDatabase = fnGetDatabaseElement(oBase);
    if (!oDatabase)
        return "";
    return "<UL class=\"FoldersTree\" name=\"FoldersTree\" id=\"FoldersTree\" UIN=\"" +
        fnTreeEscape(oDatabase.getAttribute(cxbiAttUIN)) + "\" onSelectionChange=\"top.fnOnTreeSelectionChange();\">" +
        fnRenderTreeItem(oDatabase, oDatabase.getAttribute(cxbiAttCurrentNode), true) + "</UL>";
}
