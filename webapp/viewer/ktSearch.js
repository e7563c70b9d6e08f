// Search over the whole open collection as the user types: the list shows every fragment of any
// folder whose title, text, comment or address holds all the words of the query (and every
// phrase in double quotes as typed, word after word), without regard to case or accents, in the
// list's sort order, each with its folder's path and the matched words marked.
//
// The fragments' searchable text is kept in an index, made at the first search after the
// collection changed and in slices of the window's time, so that typing goes on while it is
// made; a query still running when the next key comes is dropped.

var L_SEARCH_FOUND_ONE = "1 citation found";
var L_SEARCH_FOUND_MANY = " citations found";
var L_SEARCH_NONE = "No citations match your search.";
var L_SEARCH_IN = "Folder:";

var kSearchFields = [cxbiAttName, cxbiAttText, cxbiAttComment, cxbiAttURL];
var kSearchSliceMs = 12; // work between two looks at the keyboard

var gsSearchQuery = "";  // the query the list shows the results of; "" when it shows a folder
var gnSearchRun = 0;     // the newest query's number: an older one still running stops
var goSearchIndex = null; // see fnSearchIndexMaker
var goSearchObserver = null;
var gnCollectionChanges = 0; // counts the changes of the collection the observer saw

// ---- Text without case and accents -----------------------------------------------------------------

// Lower case without combining marks, so that "E" and "é" both find "e".
function fnSearchFold(sText)
{
    sText = sText.toLowerCase();
    return /[^\x00-\x7f]/.test(sText) ? sText.normalize("NFD").replace(/[\u0300-\u036f]/g, "") : sText;
}

// The folded text and, for each of its positions, the position in sText it comes from.
function fnSearchFoldMapped(sText)
{
    var sFolded = "", aFrom = [];
    for (var i = 0; i < sText.length;) {
        var nCode = sText.codePointAt(i), nLength = nCode > 0xFFFF ? 2 : 1;
        var sPiece = fnSearchFold(sText.substr(i, nLength));
        for (var j = 0; j < sPiece.length; j++)
            aFrom.push(i);
        sFolded += sPiece;
        i += nLength;
    }
    aFrom.push(sText.length);
    return { sFolded: sFolded, aFrom: aFrom };
}

// The query's terms, folded: words, and phrases in double quotes with their white space made
// single spaces. An empty list for a query of white space only.
function fnParseSearchQuery(sQuery)
{
    var aTerms = [], oPattern = /"([^"]*)"?|(\S+)/g, oMatch;
    while ((oMatch = oPattern.exec(sQuery))) {
        var sTerm = fnSearchFold((oMatch[1] !== undefined ? oMatch[1] : oMatch[2]).replace(/\s+/g, " ").trim());
        if (sTerm && aTerms.indexOf(sTerm) < 0)
            aTerms.push(sTerm);
    }
    return aTerms;
}

// ---- The index ------------------------------------------------------------------------------------

// The index holds the searchable text of every fragment in one string, folded: the four fields
// of each fragment apart by a line feed (a stored line break is a space), the fragments apart by
// U+0000, which no query holds; aStarts[i] is where fragment i begins. One scan of the engine's
// indexOf over that string finds a word in every fragment at once, far faster than a search in
// each fragment's own text.
var kSearchEntryEnd = "\u0000";
var kSearchChunk = 256; // fragments folded in one go

function fnSearchRawText(oFragment)
{
    var aParts = [];
    for (var i = 0; i < kSearchFields.length; i++)
        aParts.push(oFragment.getAttribute(kSearchFields[i]) || "");
    return aParts.join("\n");
}

// Any change of the collection (a reload, an edit, a move, a folder renamed) makes the index
// stale, also one made while the index was being made; the observer's records are taken here,
// so a change made just before is seen at once.
function fnSearchIndexIsCurrent()
{
    if (!goSearchObserver) {
        goSearchObserver = new MutationObserver(function () { gnCollectionChanges++; });
        goSearchObserver.observe(goBase, { subtree: true, childList: true, attributes: true,
                                           attributeFilter: kSearchFields.concat([cxbiAttDate]) });
    }
    if (goSearchObserver.takeRecords().length)
        gnCollectionChanges++;
    return !!goSearchIndex && goSearchIndex.nChanges == gnCollectionChanges;
}

// The steps that make the index, each short: the fragments with their folder paths, in document
// order, then their text, folded a chunk of fragments at a time.
function fnSearchIndexMaker()
{
    var aFragments = [], aPaths = [], nChanges = gnCollectionChanges;
    (function fnWalk(oFolder, sPath) {
        for (var oChild = oFolder.firstChild; oChild; oChild = oChild.nextSibling) {
            if (oChild.nodeType != 1)
                continue;
            if (oChild.nodeName == cxbiFRAGMENT) {
                aFragments.push(oChild);
                aPaths.push(sPath);
            } else if (oChild.nodeName == cxbiNODE) {
                fnWalk(oChild, sPath + " \u203A " + (oChild.getAttribute(cxbiAttName) || ""));
            }
        }
    })(fnGetDatabaseElement(goBase), fnGetDatabaseElement(goBase).getAttribute(cxbiAttName) || "");
    // The values of the list's sort key are read on the way, so the first order needs no second
    // pass over the elements.
    var aStarts = new Int32Array(aFragments.length + 1), aTexts = [], nLength = 0, nNext = 0;
    var nSortBy = gnSortBy, sSortAttribute = fnSortAttribute(nSortBy), aSortKeys = new Array(aFragments.length);
    return function fnStep(nUntil) {
        while (nNext < aFragments.length && performance.now() < nUntil) {
            var nTo = Math.min(nNext + kSearchChunk, aFragments.length), aRaw = [];
            for (var i = nNext; i < nTo; i++) {
                aRaw.push(fnSearchRawText(aFragments[i]));
                aSortKeys[i] = aFragments[i].getAttribute(sSortAttribute) || "";
            }
            // Folding may change a text's length, so the starts are found in the folded text.
            var sFolded = fnSearchFold(aRaw.join(kSearchEntryEnd).replaceAll(cklLineBreakMark, " ")) + kSearchEntryEnd;
            for (var nAt = 0; nNext < nTo; nNext++) {
                aStarts[nNext] = nLength + nAt;
                nAt = sFolded.indexOf(kSearchEntryEnd, nAt) + 1;
            }
            aTexts.push(sFolded);
            nLength += sFolded.length;
        }
        if (nNext < aFragments.length)
            return false;
        aStarts[aFragments.length] = nLength;
        goSearchIndex = { sText: aTexts.join(""), aStarts: aStarts, aFragments: aFragments, aPaths: aPaths,
                          oOrders: {}, nSortBy: nSortBy, aSortKeys: aSortKeys, nChanges: nChanges };
        return true;
    };
}

// The fragments' numbers in the list's order, sorted once per order.
function fnSearchOrder()
{
    var sKey = gnSortBy + "/" + gnSortDirection;
    var oIndex = goSearchIndex;
    if (!oIndex.oOrders[sKey]) {
        var aKeys = oIndex.nSortBy == gnSortBy ? oIndex.aSortKeys : oIndex.aFragments.map(function (oFragment) {
            return oFragment.getAttribute(fnSortAttribute(gnSortBy)) || "";
        });
        oIndex.oOrders[sKey] = fnSortOrder(aKeys, gnSortBy, gnSortDirection);
    }
    return oIndex.oOrders[sKey];
}

// How many of the terms each fragment holds, by fragment number. A word is found by indexOf, a
// phrase by a pattern whose words may stand apart by any white space (but not across fields);
// after a hit the search goes on at the next fragment.
function fnSearchCounts(aTerms)
{
    var oIndex = goSearchIndex, sText = oIndex.sText, aStarts = oIndex.aStarts;
    var aCounts = new Uint16Array(oIndex.aFragments.length);
    for (var t = 0; t < aTerms.length; t++) {
        var fnFind;
        if (aTerms[t].indexOf(" ") < 0) {
            fnFind = function (sTerm) { return function (nFrom) { return sText.indexOf(sTerm, nFrom); }; }(aTerms[t]);
        } else {
            var oPattern = new RegExp(aTerms[t].split(" ").map(fnRegExpEscape).join("[ \\t\\r\\f\\v\\u00A0]+"), "g");
            fnFind = function (nFrom) { oPattern.lastIndex = nFrom; var oMatch = oPattern.exec(sText); return oMatch ? oMatch.index : -1; };
        }
        for (var nAt = fnFind(0), nEntry = 0; nAt >= 0; nAt = fnFind(aStarts[nEntry + 1])) {
            while (aStarts[nEntry + 1] <= nAt)
                nEntry++;
            if (aCounts[nEntry] == t)
                aCounts[nEntry]++;
        }
    }
    return aCounts;
}

function fnRegExpEscape(sText)
{
    return sText.replace(/[.*+?^${}()|[\]\\]/g, "\\$&");
}

// ---- Running a query ------------------------------------------------------------------------------

// Runs fnStep(nUntil) in slices of the window's time until it returns true; stops when a newer
// query has started.
function fnSearchInSlices(nRun, fnStep, fnDone)
{
    (function fnSlice() {
        if (nRun != gnSearchRun)
            return;
        if (fnStep(performance.now() + kSearchSliceMs))
            fnDone();
        else
            setTimeout(fnSlice, 0);
    })();
}

// Shows the results of the current query in the list; the index is made first when needed.
function fnRunSearch()
{
    var nRun = ++gnSearchRun;
    var aTerms = fnParseSearchQuery(gsSearchQuery);
    fnShowWaitCursor();
    (function fnWhenIndexed() {
        if (!fnSearchIndexIsCurrent()) {
            fnSearchInSlices(nRun, fnSearchIndexMaker(), fnWhenIndexed);
            return;
        }
        // A query still waiting when the next key came is dropped here.
        setTimeout(function () {
            if (nRun != gnSearchRun)
                return;
            var aCounts = fnSearchCounts(aTerms), aOrder = fnSearchOrder(), aFound = [];
            for (var i = 0; i < aOrder.length; i++) {
                if (aCounts[aOrder[i]] == aTerms.length)
                    aFound.push(aOrder[i]);
            }
            fnShowSearchResults(aFound, aTerms);
        }, 0);
    })();
}

function fnSearchSummary(nFound)
{
    if (!nFound)
        return L_SEARCH_NONE;
    return nFound == 1 ? L_SEARCH_FOUND_ONE : String(nFound).replace(/\B(?=(\d{3})+(?!\d))/g, " ") + L_SEARCH_FOUND_MANY;
}

function fnShowSearchResults(aFound, aTerms)
{
    var oHolder = fnGetQuilletHolder();
    fnCancelListTransfer();
    fnFrame("ktRightFrame").getSelection().removeAllRanges();
    oHolder.textContent = "";
    var oSummary = oHolder.ownerDocument.createElement("DIV");
    oSummary.className = aFound.length ? "SearchSummary" : "NoQuillet";
    oSummary.textContent = fnSearchSummary(aFound.length);
    oHolder.appendChild(oSummary);
    var oIndex = goSearchIndex;
    var oOptions = Object.assign({}, fnGetVisibilityOptions(), {
        aSearchTerms: aTerms,
        fnFolderPath: function (oFragment, nIndex) { return oIndex.aPaths[aFound[nIndex]]; },
    });
    fnShowListOf(aFound.map(function (n) { return oIndex.aFragments[n]; }), oOptions);
}

// ---- Marking the matched words --------------------------------------------------------------------

// Marks every occurrence of the terms in the text of the fields of the given fragment tables,
// element by element: the text stays text, the marks are elements around parts of it.
function fnMarkSearchTerms(aTables, aTerms)
{
    for (var i = 0; i < aTables.length; i++) {
        var oFields = aTables[i].querySelectorAll(".FragmentTitle, .FragmentText, .FragmentComment, .BaseURLText a");
        for (var j = 0; j < oFields.length; j++)
            fnMarkInElement(oFields[j], aTerms);
    }
}

function fnMarkInElement(oElement, aTerms)
{
    var oDocument = oElement.ownerDocument;
    var oWalker = oDocument.createTreeWalker(oElement, NodeFilter.SHOW_TEXT), aTexts = [];
    while (oWalker.nextNode())
        aTexts.push(oWalker.currentNode);
    for (var i = 0; i < aTexts.length; i++) {
        var aRanges = fnSearchHits(aTexts[i].data, aTerms);
        // From the end, so that the positions before stay valid.
        for (var k = aRanges.length - 1; k >= 0; k--) {
            var oHit = aTexts[i].splitText(aRanges[k][0]);
            oHit.splitText(aRanges[k][1] - aRanges[k][0]);
            var oMark = oDocument.createElement("MARK");
            oMark.className = "SearchHit";
            oHit.parentNode.replaceChild(oMark, oHit);
            oMark.appendChild(oHit);
        }
    }
}

// The parts of sText that the terms match, as [start, end] positions in sText, in order and not
// overlapping. A phrase matches across any white space of the text.
function fnSearchHits(sText, aTerms)
{
    var oMapped = fnSearchFoldMapped(sText);
    var sFolded = oMapped.sFolded.replace(/[\s]/g, " ");
    var aHits = [];
    for (var i = 0; i < aTerms.length; i++) {
        var oPattern = new RegExp(aTerms[i].split(" ").map(fnRegExpEscape).join(" +"), "g");
        var oMatch;
        while ((oMatch = oPattern.exec(sFolded)))
            aHits.push([oMapped.aFrom[oMatch.index], oMapped.aFrom[oMatch.index + oMatch[0].length]]);
    }
    aHits.sort(function (a, b) { return a[0] - b[0] || b[1] - a[1]; });
    var aMerged = [];
    for (var j = 0; j < aHits.length; j++) {
        var oLast = aMerged[aMerged.length - 1];
        if (oLast && aHits[j][0] <= oLast[1])
            oLast[1] = Math.max(oLast[1], aHits[j][1]);
        else
            aMerged.push(aHits[j].slice());
    }
    return aMerged;
}

// ---- The search field -----------------------------------------------------------------------------

function fnGetSearchField()
{
    return fnFrame("ktToolBars").document.getElementById("ktSearchField");
}

function fnIsSearching()
{
    return gsSearchQuery != "";
}

// Typing: a query with words searches; an emptied field shows the folder again.
function fnOnSearchInput()
{
    var sQuery = fnGetSearchField().value;
    if (!fnParseSearchQuery(sQuery).length) {
        fnEndSearch();
        return;
    }
    gsSearchQuery = sQuery;
    if (goBase && gbCollectionOpen)
        fnRunSearch();
}

// Esc in the field ends the search.
function fnOnSearchKey(oEvent)
{
    if (oEvent.keyCode != 27)
        return true;
    oEvent.preventDefault();
    fnGetSearchField().value = "";
    fnEndSearch();
    return false;
}

// Back to the folder shown before the search (the tree kept its selection meanwhile).
function fnEndSearch(bQuiet)
{
    var oField = fnGetSearchField();
    if (oField && oField.value && bQuiet)
        oField.value = "";
    if (!fnIsSearching())
        return;
    gsSearchQuery = "";
    gnSearchRun++;
    if (!bQuiet)
        OnFolderChanged();
}

function fnFocusSearchField()
{
    var oField = fnGetSearchField();
    oField.focus();
    oField.select();
}
