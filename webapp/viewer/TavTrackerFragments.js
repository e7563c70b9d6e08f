// Fragment operations: editing a field of a fragment in place in the list, deleting fragments,
// and moving or copying them into another folder. Each change goes through the change protocol;
// the list is then updated in place, or rebuilt where it no longer shows what the file holds.

// ---- Texts ---------------------------------------------------------------------------------------

var L_FIELD_NOT_FOUND = "Not found.";
var L_CITATION_NOT_FOUND = "Citation not found.";
var L_DELETE_CITATIONS = "Are you sure that you want to delete selected citations?";
var L_DELETE_CITATION = "Are you sure that you want to delete this citation?";

// The field elements of a fragment's rows, in the order an edit button looks for them, and the
// attribute each edits.
var kEditableFields = [
    { id: "FragmentTitle", attribute: cxbiAttName },
    { id: "FragmentText", attribute: cxbiAttText },
    { id: "FragmentComment", attribute: cxbiAttComment },
    { id: "BaseURLText", attribute: cxbiAttURL },
];

function fnFragmentTableOf(oElement)
{
    return oElement.closest("table.Fragment");
}

function fnFragmentUINOf(oElement)
{
    var oTable = fnFragmentTableOf(oElement);
    return oTable ? oTable.getAttribute("UIN") : null;
}

// A fragment element of the collection by its UIN, or null; with sFolderUIN, only among that
// folder's own fragments.
function fnFindFragment(sUIN, sFolderUIN)
{
    var oFragment = fnFindElementByUIN(goBase, sUIN);
    if (!oFragment || oFragment.nodeName != cxbiFRAGMENT)
        return null;
    if (sFolderUIN !== undefined && oFragment.parentNode.getAttribute(cxbiAttUIN) != String(sFolderUIN))
        return null;
    return oFragment;
}

// A folder element (the root folder or a folder) of the open collection by its UIN, or null.
function fnFindFolder(sUIN)
{
    return fnFindFolderByUIN(goBase, sUIN);
}

// ---- In-place editing ----------------------------------------------------------------------------

// The text a field shows, with its line breaks as line feeds: the text of the markup, which is
// the stored text exactly (runs of blanks included, which the page shows as one).
function fnFieldText(oField)
{
    var sText = "";
    for (var oNode = oField.firstChild; oNode; oNode = oNode.nextSibling) {
        if (oNode.nodeType == 3)
            sText += oNode.data;
        else if (oNode.nodeName == "BR")
            sText += "\n";
        else if (oNode.nodeType == 1)
            sText += fnFieldText(oNode);
    }
    return sText;
}

function fnFieldOfBox(oBox)
{
    return oBox.parentElement;
}

function fnStartChange(oButton)
{
    var oRow = oButton.closest("TR");
    var oField = null;
    for (var i = 0; oRow && !oField && i < kEditableFields.length; i++)
        oField = oRow.querySelector("#" + kEditableFields[i].id);
    if (!oField) {
        alert(L_FIELD_NOT_FOUND);
        return;
    }
    if (oField.querySelector("#RenameEdit"))
        return; // already being edited
    var oDocument = oField.ownerDocument, oView = oDocument.defaultView;
    var oDate = oField.parentElement.querySelector("#FragmentDate");
    if (oDate)
        oDate.style.display = "none";
    var sText = fnFieldText(oField);
    var nHeight = oField.getBoundingClientRect().height;
    if (nHeight - 2 <= 0) {
        var sMarkup = oField.innerHTML;
        oField.textContent = " ";
        nHeight = oField.getBoundingClientRect().height;
        oField.innerHTML = sMarkup;
        if (nHeight - 2 <= 0)
            nHeight += 16;
    }
    var oStyle = oView.getComputedStyle(oField);
    var nLine = parseFloat(oStyle.lineHeight) || 1.2 * parseFloat(oStyle.fontSize) || 16;
    var bMultiLine = sText.indexOf("\n") >= 0 || nHeight > 1.5 * nLine;

    var oBox = oDocument.createElement("TEXTAREA");
    oBox.id = "RenameEdit";
    oBox.className = "RenameEdit";
    oBox.wrap = "hard";
    oBox.style.width = "100%";
    oBox.style.height = Math.max(nHeight - (bMultiLine ? 2 : 0), 8) + "px";
    oBox.style.overflow = "auto";
    oBox.value = sText;
    oBox.oldText = sText;
    oBox.newText = sText;
    oBox.savedOverflow = oField.style.overflow;
    oBox.onblur = function () { top.fnEditOnAccept(this); };
    oBox.onkeydown = function (oEvent) { return top.fnEditOnKey(this, oEvent); };
    oField.textContent = "";
    oField.appendChild(oBox);
    if (oStyle.overflow == "auto")
        oField.style.overflow = "hidden";
    oField.style.marginTop = oField.style.marginBottom = oField.style.paddingTop = oField.style.paddingBottom = "0";
    oBox.select();
    oBox.focus();
}

// Enter stores, Esc abandons; Shift+Enter and Ctrl+Enter put a line break into the box.
function fnEditOnKey(oBox, oEvent)
{
    if (oEvent.keyCode == 13 && (oEvent.shiftKey || oEvent.ctrlKey) || oEvent.keyCode == 10) {
        if (oEvent.ctrlKey || oEvent.keyCode == 10) { // the box itself inserts one only on Shift+Enter
            oEvent.preventDefault();
            oBox.setRangeText("\n", oBox.selectionStart, oBox.selectionEnd, "end");
            return false;
        }
        return true;
    }
    if (oEvent.keyCode == 13) {
        oEvent.preventDefault();
        fnEditOnAccept(oBox);
        return false;
    }
    if (oEvent.keyCode == 27) {
        oEvent.preventDefault();
        oBox.newText = oBox.oldText;
        fnEditRestoreFromEdit(oBox);
        return false;
    }
    return true;
}

function fnEditOnAccept(oBox)
{
    oBox.onblur = null;
    var oField = fnFieldOfBox(oBox);
    var sAttribute = null;
    for (var i = 0; i < kEditableFields.length; i++) {
        if (kEditableFields[i].id == oField.id)
            sAttribute = kEditableFields[i].attribute;
    }
    var sValue = oBox.value.replace(/\r\n|\n|\r/g, cklLineBreakMark);
    if (!fnApplyFragmentPropertyChangeToBase(fnFragmentUINOf(oField), sAttribute, sValue))
        return; // the list was rebuilt, or nothing was stored and the box keeps the user's text
    oBox.newText = oBox.value;
    fnEditRestoreFromEdit(oBox);
}

// Stores one attribute of a fragment; true when it was saved and the list still shows the file.
function fnApplyFragmentPropertyChangeToBase(sUIN, sAttribute, sValue)
{
    var nResult = fnPrepareToChangeDatabase();
    if (nResult == ktfFailure)
        return false;
    var oFragment = fnFindFragment(sUIN, fnListShowsAllFolders() ? undefined : goCurrentFolderUIN);
    if (!oFragment) {
        alert(L_CITATION_NOT_FOUND);
        fnUnlockQuietly(fnGetHelperObject(), gsCurrentPath);
        return false;
    }
    oFragment.setAttribute(sAttribute, sValue);
    // A failed save was told: the box stays open with the user's text (the change also stays in
    // goBase and goes into the next save).
    if (!fnSaveChangedDatabase())
        return false;
    if (nResult == ktfReloaded) {
        OnFolderChanged();
        return false;
    }
    return true;
}

function fnEditRestoreFromEdit(oBox)
{
    oBox.onblur = null;
    oBox.onkeydown = null;
    oBox.style.display = "none";
    try {
        var oFocusHolder = fnFrame("ktToolBars").document.getElementById("FocusHolder");
        if (oFocusHolder)
            oFocusHolder.focus();
    } catch (e) {
    }
    var oField = fnFieldOfBox(oBox);
    var sStored = String(oBox.newText).replace(/\r\n|\n|\r/g, cklLineBreakMark);
    if (oField.id == "BaseURLText") {
        oField.setAttribute("HREF", sStored);
        oField.innerHTML = fnAddressLink(sStored);
    } else {
        oField.innerHTML = fnListText(sStored);
    }
    oField.style.marginTop = oField.style.marginBottom = oField.style.paddingTop = oField.style.paddingBottom = "";
    oField.style.overflow = oBox.savedOverflow || "";
    var oDate = oField.parentElement.querySelector("#FragmentDate");
    if (oDate)
        oDate.style.display = "";
    window.focus();
    fnAfterEditInPlace();
}

// An edit still open is stored first when the file changed on disk: the change then finds the
// other program's change, reloads and applies the edit to the reloaded file, instead of the
// reload throwing the typed text away. True when there was one.
function fnAcceptOpenEdit()
{
    var oBox = fnOpenEditBox();
    if (!oBox)
        return false;
    fnEditOnAccept(oBox);
    return true;
}

// The edit box of an edit in place still open; null when none is.
function fnOpenEditBox()
{
    var oHolder = fnGetQuilletHolder();
    var oBox = oHolder && oHolder.querySelector("#RenameEdit");
    return oBox && oBox.onblur ? oBox : null;
}

function fnIsEditingInPlace()
{
    return !!fnOpenEditBox();
}

// ---- Deleting, moving and copying ----------------------------------------------------------------

// The UINs a command acts on: those given, else those of the list's selection (a selection is
// required); null when there are none.
function fnCommandFragmentUINs(aUINs)
{
    if (aUINs)
        return aUINs;
    var oSelected = fnBuildSelectedTablesArray(true);
    return oSelected ? oSelected.aTables.map(function (oTable) { return oTable.getAttribute("UIN"); }) : null;
}

// Removes the fragments' tables and the rules after them from the list; the empty-list message
// when nothing is left.
function fnRemoveFragmentsFromList(aUINs)
{
    var oDocument = fnFrame("ktRightFrame").document;
    for (var i = 0; i < aUINs.length; i++) {
        var oTable = oDocument.getElementById("id" + aUINs[i]);
        if (!oTable)
            continue;
        var oNext = oTable.nextElementSibling;
        if (oNext && oNext.tagName == "HR")
            oNext.remove();
        oTable.remove();
    }
}

function fnAfterFragmentsChanged()
{
    fnFrame("ktRightFrame").getSelection().removeAllRanges();
    var oHolder = fnGetQuilletHolder();
    if (!oHolder.firstElementChild && !goQueuedList)
        oHolder.innerHTML = "<DIV class=\"NoQuillet\">" + L_NO_CITATIONS + "</DIV>";
}

// The fragment elements of aUINs, every one found before any is changed: a change that cannot
// find one of them changes none (else the ones before it would stay changed in memory, unsaved,
// and go into the next save). Null, with the message, when one is missing.
function fnFindAllFragments(aUINs)
{
    var aFragments = [];
    for (var i = 0; i < aUINs.length; i++) {
        var oFragment = fnFindFragment(aUINs[i]);
        if (!oFragment) {
            alert(L_CITATION_NOT_FOUND);
            return null;
        }
        aFragments.push(oFragment);
    }
    return aFragments;
}

function fnDeleteFragments(aUINs)
{
    try {
        aUINs = fnCommandFragmentUINs(aUINs);
        if (!aUINs)
            return;
        if (!confirm(aUINs.length > 1 ? L_DELETE_CITATIONS : L_DELETE_CITATION))
            return;
        if (fnDeleteFragmentFromBase(aUINs) == ktfFailure)
            return;
        fnRemoveFragmentsFromList(aUINs);
        fnAfterFragmentsChanged();
        if (fnIsSearching())
            OnFolderChanged();
    } catch (e) {
        fnReportCommandError(e);
    }
}

function fnFragmentDelete(oButton)
{
    fnDeleteFragments([fnFragmentUINOf(oButton)]);
}

function fnDeleteFragmentFromBase(aUINs)
{
    var nResult = fnPrepareToChangeDatabase();
    if (nResult == ktfFailure)
        return ktfFailure;
    var aFragments = fnFindAllFragments(aUINs);
    if (!aFragments) {
        fnUnlockQuietly(fnGetHelperObject(), gsCurrentPath);
        return ktfFailure;
    }
    for (var i = 0; i < aFragments.length; i++)
        aFragments[i].parentNode.removeChild(aFragments[i]);
    if (!fnSaveChangedDatabase()) {
        fnShowUnsavedChange();
        return ktfFailure;
    }
    return nResult;
}

function fnMoveFragments(aUINs)
{
    try {
        aUINs = fnCommandFragmentUINs(aUINs);
        if (!aUINs)
            return;
        var sSource;
        try {
            sSource = String(fnGetFolderTreeUIN());
        } catch (e) {
            sSource = String(goCurrentFolderUIN);
        }
        var oChoice = fnShowMoveDialog(cmtfFragmentMove, sSource);
        if (!oChoice || oChoice.oFolder === undefined || oChoice.oFolder === null || oChoice.oFolder === "")
            return;
        var sDestination = String(oChoice.oFolder), bCopy = !!oChoice.bMakeCopy;
        if (fnMoveFragmentInBase(sDestination, sSource, aUINs, bCopy) == ktfFailure)
            return;
        if (!bCopy)
            fnRemoveFragmentsFromList(aUINs);
        fnAfterFragmentsChanged();
        if ((bCopy && sDestination == sSource) || fnListShowsAllFolders())
            OnFolderChanged();
    } catch (e) {
        fnReportCommandError(e);
    }
}

function fnFragmentMove(oButton)
{
    fnMoveFragments([fnFragmentUINOf(oButton)]);
}

// Moves the fragments to the end of the destination folder, or appends copies of them there with
// new UINs (their attributes only).
function fnMoveFragmentInBase(sDestination, sSource, aUINs, bCopy)
{
    var nResult = fnPrepareToChangeDatabase();
    if (nResult == ktfFailure)
        return ktfFailure;
    var oDestination = fnFindFolder(sDestination);
    if (!oDestination)
        alert(L_FOLDER_NOT_FOUND);
    var aFragments = oDestination ? fnFindAllFragments(aUINs) : null;
    if (!aFragments) {
        fnUnlockQuietly(fnGetHelperObject(), gsCurrentPath);
        return ktfFailure;
    }
    for (var i = 0; i < aFragments.length; i++) {
        if (bCopy) {
            var oCopy = aFragments[i].cloneNode(false);
            oCopy.setAttribute(cxbiAttUIN, fnCreateNewUIN(goBase));
            oDestination.appendChild(oCopy);
        } else {
            oDestination.appendChild(aFragments[i]);
        }
    }
    if (!fnSaveChangedDatabase()) {
        fnShowUnsavedChange();
        return ktfFailure;
    }
    return nResult;
}
