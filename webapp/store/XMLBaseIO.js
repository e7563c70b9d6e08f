// The collection store: the names of the collection file format, and the operations that open a
// collection into an XML document, repair it, check and convert its version, read, compare and
// advance its change stamp, and hand out and look up identifiers. It keeps no state: every
// operation takes the page's document (someBase).
//
// Around these, every page that reads or changes a collection follows one sequence under the
// collection's lock (fnReadCollection, fnChangeCollection / fnBeginChange + fnFinishChange).

// ---- Names of the file format ------------------------------------------------------------------

var cxbiMajorDatabaseVersion = 1;
var cxbiMinorDatabaseVersion = 0;
var cxbiDatabaseVersion = cxbiMajorDatabaseVersion + "." + cxbiMinorDatabaseVersion;
// The namespace of the format's elements, bound to the prefix TavTracker; the style sheets that
// render collections bind the prefix to this same address.
var cxbiNamespace = "http://www.tavrelo.com/tracker/";
var cxbiPrefix = "TavTracker";

var cxbiRoot = "root";
var cxbiAttTimeStamp = "TimeStamp";
var cxbiNoTimeStamp = "-1";
var cxbiAttNextUIN = "NextUIN";
var cxbiAttUIN = "UIN";
var cxbiAttVersion = "dbversion";
var cxbiDatabase = "TavTracker:ktDATABASE";
var cxbiAttCurrentNode = "CurrentNode";
var cxbiAttIsDatabase = "IsDatabase";
var cxbiNODE = "TavTracker:ktNODE";
var cxbiFRAGMENT = "TavTracker:ktFRAGMENT";
var cxbiAttName = "Name";
var cxbiAttText = "Text";
var cxbiAttComment = "Comment";
var cxbiAttURL = "BaseURL";
var cxbiAttDate = "CreationDate";
var cxbiAttUnsorted = "IsUnsortedNode";

var L_UNNAMED_NODE_DEF = "My Citations";
var L_UNSORTED_NODE = "Default Collection";

// ---- Messages ------------------------------------------------------------------------------------

var L_DATABASE_VERSION_NOT_CURRENT = "XML Database version is not current.\n\nExpected version:";
var L_DATABASE_VERSION_FOUND = "\nFound version:";
var L_DATABASE_VERSION_NO_MARK = "No version mark found";
var L_DATABASE_VERSION_CONVERT = "\n\nDo you want to convert it?";
var L_DATABASE_VERSION_HIGHER = "Database version is higher than supported.\n\nAre you sure that you want to continue?";
var L_XML_CONTROL_FAILED = "Script was unable to initialize XML control.";
var L_FILE_MODIFIED = "The file has been modified by another program.\nIt will be reloaded.";
var L_DAMAGED_FILE_KEPT_1 = "The collection file\n\n";
var L_DAMAGED_FILE_KEPT_2 = "\n\nis damaged and cannot be read. A copy of it was kept as\n\n";
var L_DAMAGED_FILE_KEPT_3 = "\n\nA new collection is opened in its place; the first change you save replaces the damaged file.";
var L_DAMAGED_FILE_KEPT_ON_CHANGE = "\n\nThe change you are making replaces the damaged file with the collection shown here.";
var L_RESCUED_FILE_1 = "The collection file\n\n";
var L_RESCUED_FILE_2 = "\n\nheld ";
var L_RESCUED_FILE_ONE = " character";
var L_RESCUED_FILE_MANY = " characters";
var L_RESCUED_FILE_3 = " that a collection cannot hold (control characters such as form feeds). They were removed, and the collection is opened without them. A copy of the file as it was is kept as\n\n";
var L_RESCUED_FILE_4 = "\n\nThe first change you save replaces the file with the collection shown here.";
var L_NOT_A_COLLECTION = "The file is not a collection: its document element is not \"root\".";
var L_SAVE_FAILED_1 = "The change could not be saved.\n\n";
var L_SAVE_FAILED_2 = "\n\nThe file was left as it was. The change is kept here and is saved with the next change.";

// Results of a change.
var ktfFailure = 0;
var ktfReloaded = -1;
var ktfSuccess = 1;

// parseError.errorCode of a file that is there but is not well-formed XML.
var cxbiNotWellFormed = 0xC00CE50D | 0;
// parseError.errorCode of a path that is not read at all: a folder, a device, a pipe, or a file
// too large to be a collection.
var cxbiNotAReadableFile = 0x800700DE | 0;
// The XML component's property that loads a file damaged only by characters XML does not allow.
var cxbiDropForbiddenCharacters = "DropForbiddenCharacters";

// ---- Documents -----------------------------------------------------------------------------------

// The page's factory of XML documents: a new, empty document that loads synchronously; null when
// the component is missing. The store makes its own documents with it too, so a page that defines
// its own after this script is used everywhere.
function fnCreateXMLctl()
{
    try {
        var oDocument = new ActiveXObject("Microsoft.XMLDOM");
        oDocument.async = false;
        return oDocument;
    } catch (e) {
        return null;
    }
}

// Empties a document in place, so that every reference to it sees the next content.
function fnEmptyDocument(someBase)
{
    while (someBase.firstChild)
        someBase.removeChild(someBase.firstChild);
}

// An error of the store; storeMessage is what the user is told when it ends a change.
function fnStoreError(sDescription)
{
    var oError = new Error(sDescription);
    oError.number = 0x80004005 | 0;
    oError.description = sDescription;
    oError.storeMessage = sDescription;
    return oError;
}

// The document element when it is root; null otherwise.
function fnGetRootElement(someBase)
{
    var oRoot = someBase.documentElement;
    return oRoot && oRoot.nodeName == cxbiRoot ? oRoot : null;
}

function fnGetDatabaseElement(someBase)
{
    return someBase.selectSingleNode("/" + cxbiRoot + "/" + cxbiDatabase);
}

// ---- Opening -------------------------------------------------------------------------------------

// A damaged file is copied aside once, before anything could be written over it, and the user
// is told where the copy is. A copy that cannot be made stops the opening, so the damaged file
// is never replaced without one.
function fnKeepDamagedFile(somePath, sAfterwards)
{
    var sCopy = fnKeepCopyOfFile(somePath);
    if (sCopy != null)
        alert(L_DAMAGED_FILE_KEPT_1 + somePath + L_DAMAGED_FILE_KEPT_2 + sCopy + (sAfterwards || L_DAMAGED_FILE_KEPT_3));
}

// The copy made of the file as it is now; null when the same copy was kept before.
function fnKeepCopyOfFile(somePath)
{
    var oKept;
    try {
        oKept = window.__tavreloHost.preserveDamagedFile(somePath);
    } catch (e) {
        throw fnStoreError(e.description || e.message);
    }
    return oKept.made ? oKept.copy : null;
}

// A file that was not well-formed only because it held characters that XML does not allow
// (another program wrote them, or an older version of ours) opens without them; a copy of it as
// it was is kept first, and the user is told once how many characters were removed.
function fnKeepRescuedFile(someBase, somePath)
{
    var nDropped = someBase.droppedCharacters;
    var sCopy = fnKeepCopyOfFile(somePath);
    if (sCopy != null)
        alert(L_RESCUED_FILE_1 + somePath + L_RESCUED_FILE_2 + nDropped + (nDropped == 1 ? L_RESCUED_FILE_ONE : L_RESCUED_FILE_MANY) +
              L_RESCUED_FILE_3 + sCopy + L_RESCUED_FILE_4);
}

// Collections from this size on take about half a second or more to open or save: the pages
// parse them in the background and show that they are busy.
var kLargeCollectionBytes = 6 * 1024 * 1024;

function fnIsLargeCollection(somePath)
{
    try {
        return window.__tavreloHost.fileSize(somePath) >= kLargeCollectionBytes;
    } catch (e) {
        return false;
    }
}

// Loads a collection file into the document; a file damaged only by characters that XML does
// not allow loads without them (droppedCharacters).
function fnLoadCollectionFile(someBase, somePath)
{
    someBase.setProperty(cxbiDropForbiddenCharacters, true);
    return someBase.load(somePath);
}

// Elements that carry the prefix but not the format's namespace (a file that declared another
// address) are rebuilt in the format's namespace, with their attributes and content.
function fnRebindNamespace(someBase, someElement)
{
    var oChild = someElement.firstChild;
    while (oChild) {
        var oNext = oChild.nextSibling;
        if (oChild.nodeType == 1)
            fnRebindNamespace(someBase, oChild);
        oChild = oNext;
    }
    if (someElement.prefix != cxbiPrefix || someElement.namespaceURI == cxbiNamespace)
        return;
    var oNew = someBase.createElementNS(cxbiNamespace, someElement.nodeName);
    for (var i = 0; i < someElement.attributes.length; i++) {
        var oAttribute = someElement.attributes[i];
        if (oAttribute.name != "xmlns:" + cxbiPrefix)
            oNew.setAttributeNS(oAttribute.namespaceURI, oAttribute.name, oAttribute.value);
    }
    while (someElement.firstChild)
        oNew.appendChild(someElement.firstChild);
    someElement.parentNode.replaceChild(oNew, someElement);
}

// Loads the path into the document and makes it a valid collection in memory: a missing, empty
// or damaged file gives a new collection (a path that is no readable file is an error); a missing root folder or system folder is added. Never
// writes the file; the repairs reach it with the next saved change.
function fnCheckedInitializeFile(someBase, somePath)
{
    goDiskCopies.delete(someBase);
    goUnsavedDocuments.delete(someBase);
    return fnCheckLoadedFile(someBase, somePath, fnLoadCollectionFile(someBase, somePath));
}

// The same, with the file parsed while the page's script is free (a large collection, whose
// parse is most of its opening): a promise of the same result, or of its error.
function fnCheckedInitializeFileAsync(someBase, somePath)
{
    goDiskCopies.delete(someBase);
    goUnsavedDocuments.delete(someBase);
    if (typeof someBase.loadAsync != "function")
        return Promise.resolve().then(function () { return fnCheckedInitializeFile(someBase, somePath); });
    someBase.setProperty(cxbiDropForbiddenCharacters, true);
    return someBase.loadAsync(somePath).then(function (bLoaded) {
        return fnCheckLoadedFile(someBase, somePath, bLoaded);
    });
}

// What follows the load of fnCheckedInitializeFile.
function fnCheckLoadedFile(someBase, somePath, bLoaded)
{
    if (!bLoaded) {
        if (someBase.parseError.errorCode == cxbiNotWellFormed)
            fnKeepDamagedFile(somePath);
    } else if (someBase.droppedCharacters) {
        fnKeepRescuedFile(someBase, somePath);
    }
    // Taken before a repair parses the document again: the disk still holds what was read.
    var oRead = someBase.fileIdentity;
    // Never a new collection in its place: the first change saved would write over it.
    if (someBase.parseError.errorCode == cxbiNotAReadableFile)
        throw fnStoreError(someBase.parseError.reason);

    var bChanged = false;
    var oRoot = someBase.documentElement;
    if (!oRoot) {
        oRoot = someBase.createElement(cxbiRoot);
        oRoot.setAttribute("xmlns:" + cxbiPrefix, cxbiNamespace);
        oRoot.appendChild(someBase.createTextNode("\n\t"));
        oRoot.setAttribute(cxbiAttTimeStamp, cxbiNoTimeStamp);
        oRoot.setAttribute(cxbiAttNextUIN, "0");
        oRoot.setAttribute(cxbiAttVersion, cxbiDatabaseVersion);
        someBase.appendChild(oRoot);
        someBase.insertBefore(someBase.createProcessingInstruction("xml", "version=\"1.0\" encoding=\"UTF-8\""), oRoot);
        bChanged = true;
    } else if (oRoot.nodeName != cxbiRoot) {
        throw fnStoreError(L_NOT_A_COLLECTION);
    } else if (oRoot.getAttribute("xmlns:" + cxbiPrefix) != cxbiNamespace) {
        oRoot.setAttribute("xmlns:" + cxbiPrefix, cxbiNamespace);
        fnRebindNamespace(someBase, oRoot);
        bChanged = true;
    }

    var oDatabase = fnGetDatabaseElement(someBase);
    if (!oDatabase) {
        oDatabase = someBase.createElement(cxbiDatabase);
        oDatabase.setAttribute(cxbiAttName, L_UNNAMED_NODE_DEF);
        oDatabase.setAttribute(cxbiAttIsDatabase, "-1");
        oDatabase.appendChild(someBase.createTextNode("\n\t\t"));
        oRoot.appendChild(oDatabase);
        bChanged = true;
    }

    if (!oDatabase.selectSingleNode(cxbiNODE)) {
        var oUnsorted = someBase.createElement(cxbiNODE);
        oUnsorted.setAttribute(cxbiAttName, L_UNSORTED_NODE);
        oUnsorted.setAttribute(cxbiAttUnsorted, "1");
        oUnsorted.appendChild(someBase.createTextNode("\n\t\t"));
        oDatabase.appendChild(oUnsorted);
        bChanged = true;
    }

    // Parsed again, the new elements are exactly like the ones a file holds.
    if (bChanged && !someBase.loadXML(someBase.xml))
        throw fnStoreError(someBase.parseError.reason);
    fnRememberDiskCopy(someBase, oRead, somePath);
    return true;
}

// ---- Version -------------------------------------------------------------------------------------

function fnGetVersion(someBase)
{
    var oRoot = fnGetRootElement(someBase);
    var sVersion = oRoot ? oRoot.getAttribute(cxbiAttVersion) : null;
    return sVersion == null ? "" : sVersion;
}

function fnCheckVersion(someBase)
{
    return fnGetVersion(someBase) === cxbiDatabaseVersion;
}

function fnSetVersion(someBase)
{
    fnGetRootElement(someBase).setAttribute(cxbiAttVersion, cxbiDatabaseVersion);
}

function fnConfirmConversion(someBase)
{
    var sVersion = fnGetVersion(someBase);
    return confirm(L_DATABASE_VERSION_NOT_CURRENT + cxbiDatabaseVersion + L_DATABASE_VERSION_FOUND +
                   (sVersion != "" ? "'" + sVersion + "'" : L_DATABASE_VERSION_NO_MARK) + L_DATABASE_VERSION_CONVERT);
}

// Converts to the current version; false only when the user will not go on with a newer one.
function fnPerformConversion(someBase)
{
    var sVersion = fnGetVersion(someBase);
    var nMajor = 0, nMinor = 0;
    var nDot = sVersion.indexOf(".");
    if (nDot >= 0) {
        nMajor = parseInt(sVersion.substring(0, nDot), 10);
        nMinor = parseInt(sVersion.substring(nDot + 1), 10);
        if (isNaN(nMajor))
            nMajor = 0;
        if (isNaN(nMinor))
            nMinor = 0;
    }
    var bNewer = nMajor > cxbiMajorDatabaseVersion ||
                 (nMajor == cxbiMajorDatabaseVersion && nMinor > cxbiMinorDatabaseVersion);
    if (!(nMajor == 0 && nMinor == 0) && bNewer && !confirm(L_DATABASE_VERSION_HIGHER))
        return false;
    fnSetVersion(someBase);
    return true;
}

// ---- Stamps --------------------------------------------------------------------------------------

function fnGetTimeStamp(someBase)
{
    var oRoot = fnGetRootElement(someBase);
    var sStamp = oRoot ? oRoot.getAttribute(cxbiAttTimeStamp) : null;
    if (sStamp == null || sStamp == "")
        return cxbiNoTimeStamp;
    if (isNaN(parseInt(sStamp, 10)))
        return "1";
    return sStamp;
}

// False when the disk copy was changed since the page's copy was read. A file that was never
// saved (no stamp) never counts as changed.
function fnCheckTimeStampsEqual(someBase, someDiskBase)
{
    return fnStampMatchesDisk(someBase, fnGetTimeStamp(someDiskBase));
}

function fnStampMatchesDisk(someBase, sDiskStamp)
{
    return sDiskStamp == cxbiNoTimeStamp || fnGetTimeStamp(someBase) == sDiskStamp;
}

function fnIncrementTimeStamp(someBase)
{
    var nStamp = parseInt(fnGetTimeStamp(someBase), 10);
    if (nStamp < -1)
        nStamp = -1; // a stamp below "never saved" comes from another program; start again
    fnGetRootElement(someBase).setAttribute(cxbiAttTimeStamp, String((nStamp + 1) % 1000000));
    return true;
}

// ---- Identifiers ---------------------------------------------------------------------------------

function fnIsUIN(sValue)
{
    return sValue != null && !isNaN(parseInt(sValue, 10));
}

// The largest identifier in the document; -1 when there is none. One walk over the elements,
// which is several times faster than a query for every UIN attribute of a large collection.
function fnGetLargestUIN(someBase)
{
    var nLargest = -1;
    var oElements = someBase.getElementsByTagName("*");
    for (var i = 0, n = oElements.length; i < n; i++) {
        var sUIN = oElements[i].getAttribute(cxbiAttUIN);
        if (sUIN != null) {
            var nUIN = parseInt(sUIN, 10);
            if (nUIN > nLargest)
                nLargest = nUIN;
        }
    }
    return nLargest;
}

// Hands out the next identifier. A counter that is missing or not a number starts above the
// largest identifier in the file, so no identifier is handed out twice.
function fnCreateNewUIN(someBase)
{
    var oRoot = fnGetRootElement(someBase);
    if (goCountersToMend.delete(oRoot))
        fnMendUINCounter(someBase);
    var nNext = parseInt(oRoot.getAttribute(cxbiAttNextUIN), 10);
    if (isNaN(nNext) || nNext < 0)
        nNext = fnGetLargestUIN(someBase) + 1;
    oRoot.setAttribute(cxbiAttNextUIN, String(nNext + 1));
    return String(nNext);
}

// Makes the counter start above every identifier in the document, whatever wrote it: a valid
// but stale NextUIN would otherwise hand out identifiers that exist. In memory only.
function fnMendUINCounter(someBase)
{
    fnMendUINCounterAbove(someBase, fnGetLargestUIN(someBase));
}

function fnMendUINCounterAbove(someBase, nLargest)
{
    var oRoot = fnGetRootElement(someBase);
    if (!oRoot)
        return;
    var nNext = parseInt(oRoot.getAttribute(cxbiAttNextUIN), 10);
    if (!isNaN(nNext) && nNext >= 0 && nNext <= nLargest)
        oRoot.setAttribute(cxbiAttNextUIN, String(nLargest + 1));
}

function fnGetElementUIN(someBase, someElement)
{
    var sUIN = someElement.getAttribute(cxbiAttUIN);
    if (!fnIsUIN(sUIN)) {
        sUIN = fnCreateNewUIN(someBase);
        someElement.setAttribute(cxbiAttUIN, sUIN);
    }
    return sUIN;
}

// The text as an XPath string literal, whatever quotes it holds.
function fnXPathLiteral(sText)
{
    if (sText.indexOf("'") < 0)
        return "'" + sText + "'";
    if (sText.indexOf("\"") < 0)
        return "\"" + sText + "\"";
    return "concat('" + sText.split("'").join("', \"'\", '") + "')";
}

function fnFindElementByUIN(someBase, someUIN)
{
    return someBase.selectSingleNode("//*[@" + cxbiAttUIN + "=" + fnXPathLiteral(String(someUIN)) + "]");
}

// The root folder or the folder with that identifier; null when there is none (a fragment with
// that identifier does not count).
// The folders are walked by the engine's list of them: a query for an attribute value would test
// every element of the document, ten times as many on a large collection.
function fnFindFolderByUIN(someBase, someUIN)
{
    var sUIN = String(someUIN);
    var oRoot = fnGetRootElement(someBase);
    for (var oChild = oRoot ? oRoot.firstElementChild : null; oChild; oChild = oChild.nextElementSibling) {
        if (oChild.localName == "ktDATABASE" && oChild.namespaceURI == cxbiNamespace && oChild.getAttribute(cxbiAttUIN) === sUIN)
            return oChild;
    }
    var oFolders = someBase.getElementsByTagNameNS(cxbiNamespace, "ktNODE");
    for (var i = 0, n = oFolders.length; i < n; i++) {
        if (oFolders[i].getAttribute(cxbiAttUIN) === sUIN)
            return oFolders[i];
    }
    return null;
}

// Root elements of documents whose counter was not yet compared with their identifiers: the
// first identifier made in such a document mends the counter first (fnCreateNewUIN).
var goCountersToMend = new WeakSet();

// The elements that may lack an identifier: a folder, a fragment (unless bFoldersOnly) or a root
// folder, in any namespace, whose UIN is missing or does not begin with a digit. Every element
// whose UIN reads as no number is among them.
function fnMaybeWithoutUINSelector(bFoldersOnly)
{
    var sNoDigitFirst = "";
    for (var nDigit = 0; nDigit <= 9; nDigit++)
        sNoDigitFirst += ":not([" + cxbiAttUIN + "^=\"" + nDigit + "\"])";
    var aNames = bFoldersOnly ? ["ktDATABASE", "ktNODE"] : ["ktDATABASE", "ktNODE", "ktFRAGMENT"];
    return aNames.map(function (sName) { return "*|" + sName + sNoDigitFirst; }).join(", ");
}

// Mends the counter (fnMendUINCounter) and gives an identifier to every element that lacks
// one, in document order: the root folder and the folders, and the fragments too unless
// bFoldersOnly. One walk over the elements finds both the largest identifier and the elements
// without one.
// When the engine's selector query finds no element that may lack one (nearly always), nothing
// is walked: the walk makes a script object for every element of the document (a fifth of a
// second for 100 000 fragments, and as much again for the garbage collector), and only the
// counter could still be behind. It is mended before the first identifier is made, which is all
// the counter is for.
function fnGiveMissingUINs(someBase, bFoldersOnly)
{
    var oTopElement = fnGetRootElement(someBase);
    if (oTopElement && !someBase.querySelector(fnMaybeWithoutUINSelector(bFoldersOnly))) {
        goCountersToMend.add(oTopElement);
        return;
    }
    var oDatabase = fnGetDatabaseElement(someBase);
    var nLargest = -1, aMissing = [];
    var oElements = someBase.getElementsByTagName("*");
    for (var i = 0, n = oElements.length; i < n; i++) {
        var oElement = oElements[i];
        var sUIN = oElement.getAttribute(cxbiAttUIN);
        var nUIN = sUIN == null ? NaN : parseInt(sUIN, 10);
        if (nUIN > nLargest)
            nLargest = nUIN;
        if (isNaN(nUIN) && oElement.namespaceURI == cxbiNamespace) {
            var sName = oElement.localName;
            if (sName == "ktNODE" || (sName == "ktFRAGMENT" && !bFoldersOnly) || oElement == oDatabase)
                aMissing.push(oElement);
        }
    }
    fnMendUINCounterAbove(someBase, nLargest);
    var oRoot = fnGetRootElement(someBase);
    // A counter that is missing or not a number starts above the largest identifier.
    if (aMissing.length && oRoot && !(parseInt(oRoot.getAttribute(cxbiAttNextUIN), 10) >= 0))
        oRoot.setAttribute(cxbiAttNextUIN, String(nLargest + 1));
    for (var j = 0; j < aMissing.length; j++)
        aMissing[j].setAttribute(cxbiAttUIN, fnCreateNewUIN(someBase));
}

// ---- Reading and changing under the lock -----------------------------------------------------------

// A lock wait that the user ended (the wait indicator's Cancel, or closing the window) needs no
// message: the user knows. Every other lock failure is told.
var cxbiLockWaitCancelled = 0x80004004 | 0;

function fnTellLockFailure(someError, someMessage)
{
    if (!someError || someError.number !== cxbiLockWaitCancelled)
        alert(someMessage);
}

function fnUnlockQuietly(someHelper, somePath)
{
    try {
        someHelper.UnlockFile(somePath);
    } catch (e) {
    }
}

// Reads the collection at the path into the page's document under its lock: opens it, checks
// its version (asking the user), gives missing identifiers, and lets the page render it.
// someOptions: lockFailureMessage, foldersOnly (identifiers for folders only), render(someBase).
// True when the collection was read; false when the lock failed or the user declined. Errors of
// reading or rendering reach the caller, after the lock is released.
function fnReadCollection(someHelper, someBase, somePath, someOptions)
{
    try {
        someHelper.LockFile(somePath);
    } catch (e) {
        fnTellLockFailure(e, someOptions.lockFailureMessage);
        return false;
    }
    try {
        fnCheckedInitializeFile(someBase, somePath);
        return fnFinishReadCollection(someBase, someOptions);
    } finally {
        fnUnlockQuietly(someHelper, somePath);
    }
}

// The same as a promise, the file parsed while the page's script is free; the lock is held
// until the collection is ready.
function fnReadCollectionAsync(someHelper, someBase, somePath, someOptions)
{
    try {
        someHelper.LockFile(somePath);
    } catch (e) {
        fnTellLockFailure(e, someOptions.lockFailureMessage);
        return Promise.resolve(false);
    }
    return fnCheckedInitializeFileAsync(someBase, somePath).then(function () {
        return fnFinishReadCollection(someBase, someOptions);
    }).finally(function () {
        fnUnlockQuietly(someHelper, somePath);
    });
}

function fnFinishReadCollection(someBase, someOptions)
{
    if (!fnCheckVersion(someBase) && !(fnConfirmConversion(someBase) && fnPerformConversion(someBase)))
        return false;
    fnGiveMissingUINs(someBase, !!someOptions.foldersOnly);
    if (someOptions.render)
        someOptions.render(someBase);
    return true;
}

// ---- What a document knows of its file ---------------------------------------------------------

// Per document: the file it was last read from or saved to, by the host's identity of that file
// at the time, and the stamp the file held then. While the file keeps that identity nobody else
// has written it, so a change need not read it again to learn its stamp.
var goDiskCopies = new WeakMap();
// Per document: the path and identity of the file as it was when the document last read (or
// tried to read: a damaged or missing file counts) or wrote it.
var goSeenFiles = new WeakMap();
// Documents that hold a change whose save failed; the next saved change takes it along.
var goUnsavedDocuments = new WeakSet();

function fnHasUnsavedChange(someBase)
{
    return goUnsavedDocuments.has(someBase);
}

function fnRememberDiskCopy(someBase, someFile, somePath)
{
    var sSeen = someFile && someFile.identity ? someFile.identity : window.__tavreloHost.fileIdentity(somePath);
    goSeenFiles.set(someBase, { path: somePath, identity: sSeen });
    if (someFile && someFile.identity)
        goDiskCopies.set(someBase, { path: someFile.path, identity: someFile.identity, stamp: fnGetTimeStamp(someBase) });
    else
        goDiskCopies.delete(someBase);
}

// The stamp of the file at the path when it is still the very file the document last read or
// wrote; null when that cannot be told (the file changed, or the document never saw it), and
// the file has to be read.
function fnKnownDiskStamp(someBase, somePath)
{
    var oKnown = goDiskCopies.get(someBase);
    if (!oKnown || oKnown.path != somePath || !window.__tavreloHost || !window.__tavreloHost.fileIdentity)
        return null;
    return window.__tavreloHost.fileIdentity(somePath) === oKnown.identity ? oKnown.stamp : null;
}

// True when the file at the path is no longer the one the document was last read from or saved
// to: somebody else wrote, replaced, made or removed it since.
function fnFileChangedSinceRead(someBase, somePath)
{
    var oSeen = goSeenFiles.get(someBase);
    return !oSeen || oSeen.path != somePath || window.__tavreloHost.fileIdentity(somePath) !== oSeen.identity;
}

// Loads the disk copy for the stamp check: the document, or null when there is nothing to
// compare (no file, or one that cannot be read). A disk copy that is not well-formed, or that
// loads only without characters XML does not allow, is kept beside the file first, as on
// opening, since the change then writes over it.
function fnLoadDiskCopy(somePath)
{
    var oDisk = fnCreateXMLctl();
    if (!oDisk)
        throw fnStoreError(L_XML_CONTROL_FAILED);
    if (fnLoadCollectionFile(oDisk, somePath)) {
        if (oDisk.droppedCharacters)
            fnKeepRescuedFile(oDisk, somePath);
        return oDisk;
    }
    if (oDisk.parseError.errorCode == cxbiNotWellFormed)
        fnKeepDamagedFile(somePath, L_DAMAGED_FILE_KEPT_ON_CHANGE);
    return null;
}

// True when somebody else wrote the file and kept the document's stamp: a sync program that
// brought another machine's change made from the same state (both wrote the next stamp). The
// disk copy then differs from the document in more than the folder last shown, which pages write
// without a change. A document holding a change whose save failed is not compared: that change
// goes into the file with the next one, as promised.
function fnReplacedUnderSameStamp(someBase, someDisk, somePath, sDiskStamp)
{
    if (sDiskStamp == cxbiNoTimeStamp || !fnStampMatchesDisk(someBase, sDiskStamp) ||
        fnHasUnsavedChange(someBase) || !fnFileChangedSinceRead(someBase, somePath))
        return false;
    var oDatabase = fnGetDatabaseElement(someBase), oDiskDatabase = fnGetDatabaseElement(someDisk);
    if (oDatabase && oDiskDatabase) {
        var sShown = oDatabase.getAttribute(cxbiAttCurrentNode);
        if (sShown == null)
            oDiskDatabase.removeAttribute(cxbiAttCurrentNode);
        else
            oDiskDatabase.setAttribute(cxbiAttCurrentNode, sShown);
    }
    return someDisk.xml != someBase.xml;
}

// The first half of a change: takes the lock and makes sure the page's document is the file's
// latest state. ktfFailure: nothing is locked (the user has been told why). ktfReloaded: the file
// had changed on disk and someReread() read it again into the page's document. ktfSuccess: the
// document is current. On ktfReloaded and ktfSuccess the lock is held: finish with
// fnFinishChange, or give up with fnUnlockQuietly.
function fnBeginChange(someHelper, someBase, somePath, someReread, someLockFailureMessage)
{
    try {
        someHelper.LockFile(somePath);
    } catch (e) {
        fnTellLockFailure(e, someLockFailureMessage);
        return ktfFailure;
    }
    try {
        var sDiskStamp = fnKnownDiskStamp(someBase, somePath);
        var bReplacedUnderSameStamp = false;
        if (sDiskStamp == null) {
            var oDisk = fnLoadDiskCopy(somePath);
            // A disk copy that does not load (no file yet) is not compared.
            sDiskStamp = oDisk ? fnGetTimeStamp(oDisk) : cxbiNoTimeStamp;
            bReplacedUnderSameStamp = oDisk && fnReplacedUnderSameStamp(someBase, oDisk, somePath, sDiskStamp);
        }
        if (bReplacedUnderSameStamp || !fnStampMatchesDisk(someBase, sDiskStamp)) {
            alert(L_FILE_MODIFIED);
            someReread();
            return ktfReloaded;
        }
        return ktfSuccess;
    } catch (e) {
        fnUnlockQuietly(someHelper, somePath);
        // The component is missing, or a damaged disk copy could not be kept: the change would
        // have replaced it.
        if (e && e.storeMessage)
            alert(e.storeMessage);
        return ktfFailure;
    }
}

// The second half of a change: records the current folder when it exists, advances the stamp,
// saves the whole document, tells the other pages, and always releases the lock. True when the
// file was saved. A save that fails is told, naming the file and the system's reason; the old
// file stays, the document keeps the change with the stamp it had, so that the next change
// finds the file as the document knows it and saves the change with its own.
function fnFinishChange(someHelper, someBase, somePath, someCurrentUIN)
{
    var bSaved = false, sFailure = null;
    var oRoot = fnGetRootElement(someBase);
    var sStamp = oRoot ? oRoot.getAttribute(cxbiAttTimeStamp) : null;
    try {
        if (someCurrentUIN != null && String(someCurrentUIN) != "-1" && fnFindElementByUIN(someBase, someCurrentUIN))
            fnGetDatabaseElement(someBase).setAttribute(cxbiAttCurrentNode, String(someCurrentUIN));
        fnIncrementTimeStamp(someBase);
        try {
            someBase.save(somePath);
        } catch (e) {
            sFailure = e && (e.description || e.message) || String(e);
            throw e;
        }
        bSaved = true;
        goUnsavedDocuments.delete(someBase);
        fnRememberDiskCopy(someBase, someBase.fileIdentity, somePath);
        someHelper.DoSendChangeNotification(somePath, -1);
    } catch (e) {
    } finally {
        if (!bSaved)
            goUnsavedDocuments.add(someBase);
        if (!bSaved && oRoot) {
            if (sStamp == null)
                oRoot.removeAttribute(cxbiAttTimeStamp);
            else
                oRoot.setAttribute(cxbiAttTimeStamp, sStamp);
        }
        fnUnlockQuietly(someHelper, somePath);
    }
    if (sFailure != null)
        alert(L_SAVE_FAILED_1 + sFailure + L_SAVE_FAILED_2);
    return bSaved;
}

// A whole change. someChange: lockFailureMessage; reread() reads the collection again into the
// page's document (the lock is held); stopAfterReload ends the change after a reload so that the
// user can look again; change(someBase) makes the change and returns false to give up;
// currentFolderUIN() the folder the page considers current (or -1).
// The result is ktfFailure when nothing was saved (a change made stays in the document, see
// fnFinishChange), else ktfSuccess or ktfReloaded.
function fnChangeCollection(someHelper, someBase, somePath, someChange)
{
    var nResult = fnBeginChange(someHelper, someBase, somePath, someChange.reread, someChange.lockFailureMessage);
    if (nResult == ktfFailure)
        return ktfFailure;
    if (nResult == ktfReloaded && someChange.stopAfterReload) {
        fnUnlockQuietly(someHelper, somePath);
        return ktfReloaded;
    }
    var bChanged = false;
    try {
        bChanged = someChange.change(someBase) !== false;
    } catch (e) {
    }
    if (!bChanged) {
        fnUnlockQuietly(someHelper, somePath);
        return ktfFailure;
    }
    if (!fnFinishChange(someHelper, someBase, somePath, someChange.currentFolderUIN ? someChange.currentFolderUIN() : -1))
        return ktfFailure;
    return nResult;
}

// Records the current folder in the file without counting it as a change: no new stamp, no
// notification. Every failure is ignored.
function fnQuietWriteCurrentNode(someHelper, somePath, someCurrentUIN)
{
    try {
        someHelper.LockFile(somePath);
    } catch (e) {
        return;
    }
    try {
        var oDisk = fnCreateXMLctl();
        if (oDisk && oDisk.load(somePath) && fnFindElementByUIN(oDisk, someCurrentUIN)) {
            var oDatabase = fnGetDatabaseElement(oDisk);
            if (oDatabase && oDatabase.getAttribute(cxbiAttCurrentNode) != String(someCurrentUIN)) {
                oDatabase.setAttribute(cxbiAttCurrentNode, String(someCurrentUIN));
                oDisk.save(somePath);
            }
        }
    } catch (e) {
    } finally {
        fnUnlockQuietly(someHelper, somePath);
    }
}

// The moment of capture as 16 digits: milliseconds since 1970 UTC, whole seconds.
function fnFormatCreationDate(someDate)
{
    var nMilliseconds = Math.floor(someDate.getTime() / 1000) * 1000;
    var sDigits = "0000000000000000" + nMilliseconds;
    return sDigits.substring(sDigits.length - 16);
}
