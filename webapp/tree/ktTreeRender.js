// The folder outline's markup, rendered from a collection document (the work of the tree style
// sheet): nested lists of items, each with its label first, then the sublist of its folders.
// Names are text: every character of a name is shown as written, never read as markup.

var kTreeTrue = "1", kTreeFalse = "0";

var kTreeEntities = { "&": "&amp;", "<": "&lt;", ">": "&gt;", "\"": "&quot;" };

function fnTreeEscape(sText)
{
    return String(sText === null || sText === undefined ? "" : sText).replace(/[&<>"]/g, function (c) { return kTreeEntities[c]; });
}

// Names compare as the user's language sorts them (as localeCompare does), with one collator.
var gfTreeCompareNames = new Intl.Collator().compare;

// The collection's folders by the element they are directly under, gathered in one pass over
// the folders alone: the fragments beside them, most of a collection, are never looked at.
function fnTreeFoldersByParent(oDatabase)
{
    var oByParent = new Map();
    var oFolders = oDatabase.getElementsByTagName(cxbiNODE);
    for (var i = 0, n = oFolders.length; i < n; i++) {
        var oFolder = oFolders[i];
        var aSiblings = oByParent.get(oFolder.parentNode);
        if (!aSiblings)
            oByParent.set(oFolder.parentNode, aSiblings = []);
        aSiblings.push(fnTreeFolder(oFolder));
    }
    return oByParent;
}

// What the outline shows of a folder element, read once.
function fnTreeFolder(oElement)
{
    return { element: oElement, uin: oElement.getAttribute(cxbiAttUIN), name: String(oElement.getAttribute(cxbiAttName) || ""),
             unsorted: oElement.getAttribute(cxbiAttUnsorted) };
}

// The folders directly under `oElement`, in the order the outline shows them: under the root
// folder the default folder first, then the others; each group in ascending order of name.
function fnTreeChildFolders(oElement, bIsDatabase, oByParent)
{
    var aFolders = oByParent.get(oElement) || [];
    var fnByName = function (a, b) {
        return gfTreeCompareNames(a.name, b.name);
    };
    if (!bIsDatabase)
        return aFolders.slice().sort(fnByName);
    var aDefault = aFolders.filter(function (o) { return o.unsorted == "1"; });
    var aOthers = aFolders.filter(function (o) { return o.unsorted === null; });
    return aDefault.sort(fnByName).concat(aOthers.sort(fnByName));
}

// One item of the outline, of a folder as fnTreeFolder reads it, with the items below it: its
// parts are added to aParts, which the caller joins once (a text joined at every level would be
// copied again for each folder above it).
function fnRenderTreeItem(oFolder, sCurrentNode, bIsDatabase, oByParent, aParts)
{
    var aChildren = fnTreeChildFolders(oFolder.element, bIsDatabase, oByParent);
    var sUIN = oFolder.uin;
    var sItem = "<LI class=\"" + (bIsDatabase ? "FolderExpanded" : "FolderCollapsed") + "\" UIN=\"" + fnTreeEscape(sUIN) + "\"";
    if (bIsDatabase)
        sItem += " IsDatabase=\"1\"";
    sItem += " IsExpandable=\"" + (aChildren.length ? "true" : "false") + "\" IsExpanded=\"" + (bIsDatabase ? kTreeTrue : kTreeFalse) + "\"";
    if (!bIsDatabase && oFolder.unsorted == "1")
        sItem += " IsUnsortedNode=\"1\"";
    sItem += "><SPAN class=\"FolderNameNotFocused\" name=\"FolderName\" nowrap IsFocused=\"" +
        (sCurrentNode !== null && sUIN == sCurrentNode ? "true" : "false") + "\">" +
        fnTreeEscape(oFolder.name) + "</SPAN>";
    aParts.push(sItem);
    if (aChildren.length) {
        aParts.push("<UL class=\"SubTree\" name=\"SubTree\" id=\"SubTree\">");
        for (var i = 0; i < aChildren.length; i++)
            fnRenderTreeItem(aChildren[i], sCurrentNode, false, oByParent, aParts);
        aParts.push("</UL>");
    }
    aParts.push("</LI>");
}

// The whole outline of `oBase`, or "" when it has no root folder.
function fnRenderFolderTree(oBase)
{
    var oDatabase = fnGetDatabaseElement(oBase);
    if (!oDatabase)
        return "";
    var aParts = ["<UL class=\"FoldersTree\" name=\"FoldersTree\" id=\"FoldersTree\" UIN=\"" +
        fnTreeEscape(oDatabase.getAttribute(cxbiAttUIN)) + "\" onSelectionChange=\"top.fnOnTreeSelectionChange();\">"];
    fnRenderTreeItem(fnTreeFolder(oDatabase), oDatabase.getAttribute(cxbiAttCurrentNode), true, fnTreeFoldersByParent(oDatabase), aParts);
    aParts.push("</UL>");
    return aParts.join("");
}
