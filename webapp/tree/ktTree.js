// The folder outline's behaviour: attached to the outermost list of the tree markup, it keeps the
// current folder, expands and collapses folders on clicks, raises the list's onSelectionChange,
// and offers the methods with which pages update the outline without rendering it again. The
// hosting page loads String.js and ktUtils.js (names are normalized with fnRemoveWhiteSpaces).

// Flags in the markup are read leniently: "true", true, "1", 1 and -1 are true.
function fnTreeFlag(vValue)
{
    return vValue === true || vValue === 1 || vValue === -1 || vValue === "true" || vValue === "1" || vValue === "-1";
}

// Attaches the behaviour to `oList` and initializes it; returns the list, whose methods
// (GetCurrentNodeUIN, CreateNewNode, ...) are then the behaviour's.
function ktTreeAttach(oList)
{
    var oCurrent = null; // the current label

    function fnItemOf(oLabel) { return oLabel ? oLabel.parentElement : null; }
    function fnLabelOf(oItem) { return oItem ? oItem.firstElementChild : null; }
    function fnUINOf(oItem) { return oItem ? oItem.getAttribute("UIN") : null; }
    function fnItems() { return oList.getElementsByTagName("LI"); }
    function fnSubTreeOf(oItem)
    {
        for (var oChild = oItem.firstElementChild; oChild; oChild = oChild.nextElementSibling)
            if (oChild.tagName == "UL")
                return oChild;
        return null;
    }
    function fnAddSubTree(oItem)
    {
        var oSubTree = oItem.ownerDocument.createElement("UL");
        oSubTree.className = "SubTree";
        oSubTree.setAttribute("name", "SubTree");
        oSubTree.id = "SubTree";
        oItem.appendChild(oSubTree);
        return oSubTree;
    }
    // The item above `oItem` in the outline, or null for the root folder.
    function fnParentItem(oItem)
    {
        var oParent = oItem.parentElement ? oItem.parentElement.parentElement : null;
        return oParent && oParent.tagName == "LI" && oList.contains(oParent) ? oParent : null;
    }

    function fnExpand(oItem)
    {
        if (!fnTreeFlag(oItem.getAttribute("IsExpandable")))
            return;
        oItem.setAttribute("IsExpanded", "true");
        oItem.className = "FolderExpanded";
    }
    function fnCollapse(oItem)
    {
        if (!fnTreeFlag(oItem.getAttribute("IsExpandable")))
            return;
        oItem.setAttribute("IsExpanded", "false");
        oItem.className = "FolderCollapsed";
    }
    function fnExpandEnclosing(oItem)
    {
        for (var oParent = fnParentItem(oItem); oParent; oParent = fnParentItem(oParent))
            fnExpand(oParent);
    }
    function fnMakeLeaf(oItem)
    {
        oItem.className = "FolderNotExpandable";
        oItem.setAttribute("IsExpanded", "false");
        oItem.setAttribute("IsExpandable", "0");
    }
    function fnUnfocus(oLabel)
    {
        oLabel.setAttribute("IsFocused", "false");
        oLabel.className = "FolderNameNotFocused";
    }
    function fnFocus(oLabel)
    {
        oLabel.setAttribute("IsFocused", "true");
        oLabel.className = "FolderNameFocused";
        oCurrent = oLabel;
        fnScrollIntoView(oLabel);
    }

    // Within the scrolling box that holds the tree: vertically the label's edge that is out of
    // sight comes to the box's edge; horizontally its left edge, 5 pixels in when it is beyond
    // the right.
    function fnScrollIntoView(oLabel)
    {
        var oBox = oLabel.offsetParent;
        if (!oBox || oBox == document.body || oBox == document.documentElement)
            oBox = document.scrollingElement || document.documentElement;
        var oArea = oBox == document.scrollingElement
            ? { top: 0, left: 0, bottom: window.innerHeight, right: window.innerWidth }
            : oBox.getBoundingClientRect();
        var oRect = oLabel.getBoundingClientRect();
        if (oRect.top < oArea.top)
            oBox.scrollTop += oRect.top - oArea.top;
        else if (oRect.bottom > oArea.bottom)
            oBox.scrollTop += oRect.bottom - oArea.bottom;
        if (oRect.left < oArea.left)
            oBox.scrollLeft += oRect.left - oArea.left;
        else if (oRect.right > oArea.right)
            oBox.scrollLeft += oRect.left - oArea.left - 5;
    }

    // The holder's explorer_version turns the event off for engines newer than the one the
    // capture page was written for; the viewer's holders carry none.
    function fnRaiseSelectionChange()
    {
        var oHolder = oList.parentElement;
        var sVersion = oHolder ? oHolder.getAttribute("explorer_version") : null;
        if (sVersion !== null && sVersion > "6.0.2600.0000")
            return;
        var oEvent = {};
        var sHandler = oList.getAttribute("onSelectionChange");
        if (sHandler)
            new Function("event", sHandler).call(oList, oEvent);
        if (typeof oList.onSelectionChange == "function")
            oList.onSelectionChange(oEvent);
    }

    function fnInitialize()
    {
        var aItems = fnItems(), i;
        for (i = 0; i < aItems.length; i++) {
            if (!fnTreeFlag(aItems[i].getAttribute("IsExpandable")))
                aItems[i].className = "FolderNotExpandable";
            if (fnTreeFlag(aItems[i].getAttribute("IsExpanded")))
                fnExpandEnclosing(aItems[i]);
        }
        var aLabels = oList.getElementsByTagName("SPAN");
        var bMarked = false;
        for (i = 0; i < aLabels.length; i++) {
            if (!fnTreeFlag(aLabels[i].getAttribute("IsFocused")))
                continue;
            if (oCurrent)
                fnUnfocus(oCurrent);
            fnExpandEnclosing(fnItemOf(aLabels[i]));
            fnFocus(aLabels[i]);
            bMarked = true;
        }
        if (!bMarked && aLabels.length)
            fnFocus(aLabels[0]);
        fnRaiseSelectionChange();
        return true;
    }

    function fnOnClick(oEvent)
    {
        oEvent.preventDefault();
        oEvent.stopPropagation();
        var oTarget = oEvent.target, oItem = null, bToggle = false;
        if (oTarget.tagName == "LI") {
            var oRect = fnLabelOf(oTarget).getBoundingClientRect();
            if (oEvent.clientX > oRect.right || oEvent.clientY > oRect.bottom)
                return;
            oItem = oTarget;
            bToggle = fnTreeFlag(oItem.getAttribute("IsExpandable"));
        } else if (oTarget.tagName == "SPAN" && oTarget.parentElement && oTarget.parentElement.tagName == "LI") {
            oItem = oTarget.parentElement;
        } else {
            return; // a list, or anything else
        }
        var bHadCurrent = oCurrent !== null, sFormerUIN = fnUINOf(fnItemOf(oCurrent));
        if (oCurrent)
            fnUnfocus(oCurrent);
        if (bToggle) {
            if (!fnTreeFlag(oItem.getAttribute("IsExpanded"))) {
                fnExpand(oItem);
            } else {
                fnCollapse(oItem);
                var aBelow = oItem.getElementsByTagName("LI");
                for (var i = 0; i < aBelow.length; i++)
                    fnCollapse(aBelow[i]);
            }
        }
        fnFocus(fnLabelOf(oItem));
        if (bHadCurrent && fnUINOf(oItem) != sFormerUIN)
            fnRaiseSelectionChange();
    }

    oList.Initialize = fnInitialize;
    oList.GetCurrentNode = function () { return oCurrent; };
    oList.GetCurrentNodeUIN = function () { return fnUINOf(fnItemOf(oCurrent)); };
    oList.GetCurrentNodeName = function () { return oCurrent ? fnRemoveWhiteSpaces(oCurrent.textContent) : null; };
    oList.FindNodeByUIN = function (vUIN) {
        var aItems = fnItems();
        for (var i = 0; i < aItems.length; i++)
            if (aItems[i].getAttribute("UIN") == String(vUIN))
                return aItems[i];
        return null;
    };
    oList.CreateNewNode = function (vParentUIN, sName, vNewUIN) {
        var oParent = oList.FindNodeByUIN(vParentUIN);
        if (!oParent)
            return false;
        var oSubTree = fnSubTreeOf(oParent) || fnAddSubTree(oParent);
        var oItem = oParent.ownerDocument.createElement("LI");
        oItem.className = "FolderNotExpandable";
        oItem.setAttribute("IsExpanded", "false");
        oItem.setAttribute("IsExpandable", "0");
        oItem.setAttribute("UIN", String(vNewUIN));
        var oLabel = oParent.ownerDocument.createElement("SPAN");
        oLabel.className = "FolderNameNotFocused";
        oLabel.setAttribute("name", "FolderName");
        oLabel.setAttribute("nowrap", "");
        oLabel.setAttribute("IsFocused", "false");
        oLabel.textContent = sName;
        oItem.appendChild(oLabel);
        oSubTree.appendChild(oItem);
        oParent.setAttribute("IsExpandable", "-1");
        fnExpand(oParent);
        fnScrollIntoView(oLabel);
        return true;
    };
    oList.RenameNode = function (vUIN, sName) {
        var oItem = oList.FindNodeByUIN(vUIN);
        if (!oItem)
            return false;
        fnLabelOf(oItem).textContent = sName;
        return true;
    };
    oList.RemoveNode = function (vUIN, bReselect) {
        var oItem = oList.FindNodeByUIN(vUIN);
        if (!oItem)
            return null;
        if (oCurrent && fnItemOf(oCurrent) == oItem) {
            fnUnfocus(oCurrent);
            oCurrent = null;
        }
        var oNext = oItem.nextElementSibling || oItem.previousElementSibling;
        var oSubTree = oItem.parentElement, oParent = fnParentItem(oItem);
        oItem.remove();
        if (oParent && !oSubTree.firstElementChild) {
            oSubTree.remove();
            fnMakeLeaf(oParent);
            oNext = oParent;
        }
        if (oNext && bReselect) {
            fnFocus(fnLabelOf(oNext));
            fnRaiseSelectionChange();
        }
        return oNext;
    };
    oList.MoveNode = function (vDestinationUIN, vSourceUIN) {
        var oDestination = oList.FindNodeByUIN(vDestinationUIN), oSource = oList.FindNodeByUIN(vSourceUIN);
        if (!oDestination || !oSource || String(vDestinationUIN) == String(vSourceUIN))
            return null;
        if (oCurrent && fnItemOf(oCurrent) == oSource) {
            fnUnfocus(oCurrent);
            oCurrent = null;
        }
        var oSubTree = fnSubTreeOf(oDestination);
        if (!oSubTree) {
            oSubTree = fnAddSubTree(oDestination);
            oDestination.setAttribute("IsExpandable", "-1");
        }
        var oFormerSubTree = oSource.parentElement, oFormerParent = fnParentItem(oSource);
        oSubTree.appendChild(oSource);
        if (oFormerParent && !oFormerSubTree.firstElementChild) {
            oFormerSubTree.remove();
            fnMakeLeaf(oFormerParent);
        }
        fnExpandEnclosing(oSource);
        fnFocus(fnLabelOf(oSource));
        return oCurrent;
    };
    oList.IsChild = function (vParentUIN, vChildUIN) {
        var oParent = oList.FindNodeByUIN(vParentUIN);
        if (!oParent || String(vParentUIN) == String(vChildUIN))
            return false;
        var aBelow = oParent.getElementsByTagName("LI");
        for (var i = 0; i < aBelow.length; i++)
            if (aBelow[i].getAttribute("UIN") == String(vChildUIN))
                return true;
        return false;
    };

    oList.addEventListener("click", fnOnClick);
    oList.addEventListener("selectstart", function (oEvent) { oEvent.preventDefault(); });
    fnInitialize();
    return oList;
}

// Renders the outline of `oBase` into `oHolder` and attaches the behaviour; returns the tree's
// list, or null when the collection has no root folder.
function fnShowFolderTree(oHolder, oBase)
{
    oHolder.innerHTML = fnRenderFolderTree(oBase);
    var oList = oHolder.firstElementChild;
    return oList ? ktTreeAttach(oList) : null;
}
