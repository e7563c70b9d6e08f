// "Microsoft.XMLDOM" for the application's pages: XML documents with the operations the pages
// use (load, loadXML, xml, save, selectNodes, selectSingleNode, tree building, transformNode),
// built on the engine's own parser, serializer, XPath and XSLT. Files are read and written whole
// through the host's file service, which replaces a file atomically.
//
// The documents are the engine's XML documents, so every node has the standard DOM members as
// well; the additions below follow the component the pages were written for:
// - load and loadXML never throw: a missing, empty, unreadable or ill-formed source leaves the
//   document empty and returns false, and parseError says why;
// - a document type declaration is refused as not well-formed before the engine's parser sees
//   the text: collections never have one, and its entities could make a small file expand
//   into gigabytes;
// - queries name elements by prefix; a prefix is resolved through the declarations in scope
//   (or SelectionNamespaces), results come in document order;
// - createElement with a prefixed name creates the element in the namespace that the document
//   declares for the prefix, so queries find new elements like parsed ones;
// - save writes UTF-8 with an XML declaration that says so;
// - no component document ever holds or writes a character that XML 1.0 does not allow (the C0
//   controls but tab, line feed and carriage return, U+FFFE, U+FFFF, a surrogate without its
//   pair): setAttribute, setAttributeNS and the text setter drop them from the value, and
//   serialisation (xml, save) drops any control character that came in another way (a lone
//   surrogate there is written as U+FFFD). A file holding one cannot be parsed, so a stored form
//   feed would make the next load fail;
// - with the property "DropForbiddenCharacters" set, a source that is not well-formed only
//   because it holds such characters (raw or as character references) loads without them, and
//   droppedCharacters tells how many were removed.
(function () {
  'use strict';
  const host = window.__tavreloHost;
  if (!host)
    return;

  const XMLNS = 'http://www.w3.org/2000/xmlns/';
  const XHTML = 'http://www.w3.org/1999/xhtml';
  const E_FAIL = 0x80004005 | 0;

  // parseError.errorCode values.
  const XML_E_MISSINGROOT = 0xC00CE558 | 0;   // nothing but white space (or nothing at all)
  const XML_E_NOTWELLFORMED = 0xC00CE50D | 0; // the parser refused the text
  const XML_E_NOTFOUND = 0x800C0006 | 0;      // no such file
  // The host's file service refuses a path that is not a regular file of a readable size (a
  // folder, a device, a pipe, a file over its limit) with 0x800700DE; that code and its reason,
  // which names the path, become the parseError as they are.

  const kDeclaration = /^\uFEFF?\s*<\?xml\s+((?:[^?]|\?(?!>))*)\?>/;
  const kOnlyWhiteSpace = /^[\s\uFEFF]*$/;
  const kDoctypeRefused = 'The document has a document type declaration (<!DOCTYPE ...>); ' +
    'document type declarations are not accepted.';

  // What XML 1.0 allows is tab, line feed, carriage return, U+0020-U+D7FF, U+E000-U+FFFD and
  // U+10000-U+10FFFF; in unicode mode a lone surrogate is a code point of its own, outside them.
  const kForbiddenCharacter = /[^\t\n\r\x20-\uD7FF\uE000-\uFFFD\u{10000}-\u{10FFFF}]/u;
  const kForbiddenCharacters = new RegExp(kForbiddenCharacter.source, 'gu');
  // The same without the surrogates, for whole serialised documents: a scan for these costs a few
  // hundredths of the serialisation, the one above several times as much. A lone surrogate left
  // in such a text becomes U+FFFD when the text is encoded as UTF-8.
  const kControlCharacter = /[\0-\x08\x0B\x0C\x0E-\x1F\uFFFE\uFFFF]/;
  const kControlCharacters = new RegExp(kControlCharacter.source, 'g');
  const kCharacterReference = /&#(?:x([0-9a-fA-F]+)|([0-9]+));/g;

  const states = new WeakMap(); // document -> its component state
  const serializer = new XMLSerializer();

  function xmlError(number, description) {
    const error = new Error(description);
    error.number = number | 0;
    error.description = description;
    return error;
  }

  function noError() {
    return { errorCode: 0, reason: '', url: '', srcText: '', line: 0, linepos: 0, filepos: 0 };
  }

  function isComponentDocument(node) {
    return !!node && states.has(node);
  }

  function ownerOf(node) {
    return node.nodeType === 9 ? node : node.ownerDocument;
  }

  // ---- Characters XML does not allow ---------------------------------------------------------

  // The text without them; a text that has none (nearly always) is returned as it is, after one
  // scan.
  function withoutForbidden(text) {
    return kForbiddenCharacter.test(text) ? text.replace(kForbiddenCharacters, '') : text;
  }

  // A serialised document without control characters and noncharacters, which only a way in
  // other than the attribute setters can have left in it.
  function withoutControls(text) {
    return kControlCharacter.test(text) ? text.replace(kControlCharacters, '') : text;
  }

  function isAllowedCodePoint(code) {
    return code === 0x9 || code === 0xA || code === 0xD || (code >= 0x20 && code <= 0xD7FF) ||
      (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
  }

  // A source's text without forbidden characters and without character references to them (as
  // another program may have written them): {text, count}.
  function dropForbidden(text) {
    let count = 0;
    const cleaned = text.replace(kForbiddenCharacters, () => { count++; return ''; })
      .replace(kCharacterReference, (reference, hex, decimal) => {
        if (isAllowedCodePoint(hex !== undefined ? parseInt(hex, 16) : parseInt(decimal, 10)))
          return reference;
        count++;
        return '';
      });
    return { text: cleaned, count: count };
  }

  // ---- Parsing --------------------------------------------------------------------------------

  // Where the document type declaration of the text starts; -1 when it has none. Only the
  // prolog is read: a byte-order mark, white space, processing instructions (the XML declaration
  // among them) and comments, up to the first other markup.
  function doctypeOffset(text) {
    let at = text.charCodeAt(0) === 0xFEFF ? 1 : 0;
    for (;;) {
      while (at < text.length && ' \t\r\n'.includes(text[at]))
        at++;
      let end;
      if (text.startsWith('<?', at))
        end = text.indexOf('?>', at + 2) + 2;
      else if (text.startsWith('<!--', at))
        end = text.indexOf('-->', at + 4) + 3;
      else
        return text.startsWith('<!DOCTYPE', at) ? at : -1;
      if (end < at) // unterminated: the parser says so
        return -1;
      at = end;
    }
  }

  // The engine reports a text that is not well-formed by an XHTML parsererror element, which it
  // puts first into the document element (or into the body of an HTML document it makes when
  // there was none), so only those places are looked at, not the whole tree.
  function parserErrorOf(parsed) {
    const isReport = (node) => !!node && node.nodeType === 1 && node.localName === 'parsererror' && node.namespaceURI === XHTML;
    const root = parsed.documentElement;
    if (!root)
      return null;
    if (isReport(root))
      return root;
    if (isReport(root.firstChild))
      return root.firstChild;
    const body = root.namespaceURI === XHTML && root.localName === 'html' ? root.querySelector('body') : null;
    return body && isReport(body.firstChild) ? body.firstChild : null;
  }

  // {document, declaration} for well-formed text, else {error}.
  function parse(text, url) {
    if (kOnlyWhiteSpace.test(text))
      return { error: Object.assign(noError(), { errorCode: XML_E_MISSINGROOT, url: url,
        reason: 'XML document must have a top level element.' }) };
    const doctype = doctypeOffset(text);
    if (doctype >= 0) {
      const before = text.slice(0, doctype).split(/\r\n|\r|\n/);
      const line = text.slice(doctype, doctype + 200).split(/\r\n|\r|\n/, 1)[0];
      return { error: Object.assign(noError(), {
        errorCode: XML_E_NOTWELLFORMED, url: url, reason: kDoctypeRefused,
        line: before.length, linepos: before[before.length - 1].length + 1, filepos: doctype,
        srcText: line,
      }) };
    }
    const parsed = new DOMParser().parseFromString(text, 'application/xml');
    const failure = parserErrorOf(parsed);
    if (failure) {
      const message = (failure.textContent || '').replace(/^This page contains the following errors:/, '')
        .replace(/Below is a rendering of the page up to the first error\.\s*$/, '').trim();
      const where = /line (\d+) at column (\d+)/.exec(message);
      const error = Object.assign(noError(), {
        errorCode: XML_E_NOTWELLFORMED, url: url, reason: message || 'The document is not well-formed XML.',
      });
      if (where) {
        error.line = Number(where[1]);
        error.linepos = Number(where[2]);
        error.srcText = text.split(/\r\n|\r|\n/)[error.line - 1] || '';
      }
      return { error: error };
    }
    const declaration = kDeclaration.exec(text);
    return { document: parsed, declaration: declaration ? declaration[1].trim() : null };
  }

  function clear(doc) {
    while (doc.firstChild)
      doc.removeChild(doc.firstChild);
  }

  // Moves the parsed content into `doc`, keeping the declaration as the first node.
  function fill(doc, parsed) {
    clear(doc);
    if (parsed.declaration)
      doc.appendChild(doc.createProcessingInstruction('xml', parsed.declaration));
    for (const node of Array.from(parsed.document.childNodes))
      doc.appendChild(doc.adoptNode(node));
  }

  // The path of the file a source names; null for a source that is no file.
  function filePathOf(source) {
    const text = String(source);
    if (!/^[a-z][a-z0-9+.-]*:/i.test(text) || /^[a-z]:[\\/]/i.test(text))
      return text;
    const url = new URL(text, location.href);
    return url.protocol === 'file:' ? decodeURIComponent(url.pathname) : null;
  }

  // {text, path, identity}: a file's path and identity, none for other sources.
  function readSource(source) {
    const text = String(source);
    const path = filePathOf(text);
    if (path === null) {
      const url = new URL(text, location.href);
      const xhr = new XMLHttpRequest();
      xhr.open('GET', url.href, false);
      xhr.send();
      if (xhr.status !== 200 && xhr.status !== 0)
        throw xmlError(XML_E_NOTFOUND, 'The system cannot locate the resource specified.');
      return { text: xhr.responseText, path: null, identity: '' };
    }
    return readFileSource(path);
  }

  function readFileSource(path) {
    const read = host.readFile(path);
    return { text: read.text, path: path, identity: read.identity };
  }

  function load(doc, source) {
    const state = states.get(doc);
    state.url = String(source);
    state.file = null;
    let read;
    try {
      read = readSource(source);
    } catch (e) {
      clear(doc);
      const missing = e.number === (0x80070002 | 0) || e.number === (0x80070003 | 0) || e.number === XML_E_NOTFOUND;
      state.parseError = Object.assign(noError(), {
        errorCode: missing ? XML_E_NOTFOUND : (e.number || E_FAIL), url: state.url,
        reason: missing ? 'The system cannot locate the object specified.' : (e.description || e.message),
      });
      return false;
    }
    if (!loadText(doc, read.text, state.url))
      return false;
    if (read.path && read.identity)
      state.file = { path: read.path, identity: read.identity };
    return true;
  }

  // As load, parsing a file in the engine as a document of its own (see the host's
  // readFileDocument): a promise of load's result. Whatever cannot go that way, or does not
  // parse, is loaded as load loads it, so errors and repairs are the same.
  async function loadAsync(doc, source) {
    const state = states.get(doc);
    const path = filePathOf(source);
    const read = path !== null && host.readFileDocument ? await host.readFileDocument(path) : null;
    if (!read)
      return load(doc, source);
    try {
      clear(doc);
      if (read.declaration)
        doc.appendChild(doc.createProcessingInstruction('xml', read.declaration));
      // The nodes move over in a fragment, untouched by script until they are in this document:
      // a node script touched in the frame would keep the frame's prototypes.
      const range = read.document.createRange();
      range.selectNodeContents(read.document);
      doc.appendChild(doc.adoptNode(range.extractContents()));
    } finally {
      read.release();
    }
    state.url = String(source);
    state.droppedCharacters = 0;
    state.parseError = noError();
    state.file = read.identity ? { path: path, identity: read.identity } : null;
    return true;
  }

  function loadText(doc, text, url) {
    const state = states.get(doc);
    state.file = null;
    state.droppedCharacters = 0;
    let parsed = parse(String(text), url);
    if (parsed.error && parsed.error.errorCode === XML_E_NOTWELLFORMED && state.properties.get('DropForbiddenCharacters')) {
      const cleaned = dropForbidden(String(text));
      const again = cleaned.count ? parse(cleaned.text, url) : parsed;
      if (!again.error) {
        parsed = again;
        state.droppedCharacters = cleaned.count;
      }
    }
    if (parsed.error) {
      clear(doc);
      state.parseError = parsed.error;
      return false;
    }
    fill(doc, parsed);
    state.parseError = noError();
    return true;
  }

  // ---- Writing --------------------------------------------------------------------------------

  function serializeNode(node) {
    if (node.nodeType === 9)
      return Array.from(node.childNodes, serializeNode).join('\r\n');
    return withoutControls(serializer.serializeToString(node));
  }

  // The declaration that a saved file carries: the document's own, saying UTF-8.
  function declarationFor(doc) {
    const first = doc.firstChild;
    let data = first && first.nodeType === 7 && first.target === 'xml' ? first.data : 'version="1.0"';
    if (/\bencoding\s*=\s*(["'])[^"']*\1/.test(data))
      data = data.replace(/\bencoding\s*=\s*(["'])[^"']*\1/, 'encoding="UTF-8"');
    else
      data = data.replace(/^(\s*version\s*=\s*(["'])[^"']*\2)/, '$1 encoding="UTF-8"');
    return '<?xml ' + data + '?>';
  }

  function save(doc, destination) {
    if (typeof destination !== 'string' || !destination)
      throw xmlError(0x80070057, 'The document can only be saved to a file path.');
    const parts = [declarationFor(doc)];
    for (const node of doc.childNodes)
      if (!(node.nodeType === 7 && node.target === 'xml'))
        parts.push('\n', serializeNode(node));
    parts.push('\n');
    const state = states.get(doc);
    state.file = null;
    const identity = host.writeTextFile(destination, parts);
    if (identity)
      state.file = { path: destination, identity: identity };
  }

  // ---- Queries --------------------------------------------------------------------------------

  function parseSelectionNamespaces(text) {
    const map = new Map();
    const pattern = /xmlns:([\w.-]+)\s*=\s*(["'])(.*?)\2/g;
    let match;
    while ((match = pattern.exec(String(text))))
      map.set(match[1], match[3]);
    return map;
  }

  function resolverFor(context) {
    const doc = ownerOf(context);
    const state = doc && states.get(doc);
    return function (prefix) {
      if (state && state.selectionNamespaces.has(prefix))
        return state.selectionNamespaces.get(prefix);
      const scope = context.nodeType === 9 ? context.documentElement : (context.nodeType === 1 ? context : context.parentNode);
      const uri = (scope && scope.lookupNamespaceURI(prefix)) ||
        (doc && doc.documentElement && doc.documentElement.lookupNamespaceURI(prefix));
      // An undeclared prefix names nothing: the query finds no node rather than failing.
      return uri || 'urn:x-undeclared-prefix:' + prefix;
    };
  }

  function nodeList(nodes) {
    let cursor = 0;
    Object.defineProperties(nodes, {
      item: { value: (index) => (index >= 0 && index < nodes.length ? nodes[index] : null) },
      nextNode: { value: () => (cursor < nodes.length ? nodes[cursor++] : null) },
      reset: { value: () => { cursor = 0; } },
    });
    return nodes;
  }

  function evaluate(context, expression, type) {
    const doc = ownerOf(context);
    try {
      return doc.evaluate(String(expression), context, resolverFor(context), type, null);
    } catch (e) {
      throw xmlError(E_FAIL, 'Invalid query "' + expression + '": ' + e.message);
    }
  }

  function selectNodes(context, expression) {
    const result = evaluate(context, expression, XPathResult.ORDERED_NODE_SNAPSHOT_TYPE);
    const nodes = new Array(result.snapshotLength);
    for (let i = 0; i < nodes.length; i++)
      nodes[i] = result.snapshotItem(i);
    return nodeList(nodes);
  }

  function selectSingleNode(context, expression) {
    return evaluate(context, expression, XPathResult.FIRST_ORDERED_NODE_TYPE).singleNodeValue;
  }

  // ---- Transforms -----------------------------------------------------------------------------

  // The markup of a standard XSLT transform; empty text when the style sheet fails.
  function transformNode(node, stylesheet) {
    try {
      const processor = new XSLTProcessor();
      processor.importStylesheet(stylesheet);
      const source = node.nodeType === 9 ? node : node.cloneNode(true);
      const result = processor.transformToDocument(source);
      if (!result)
        return '';
      const root = result.documentElement;
      if (root && root.localName === 'transformiix') // text output
        return root.textContent;
      return root ? (root.namespaceURI === XHTML ? root.outerHTML : serializer.serializeToString(root)) : '';
    } catch (e) {
      return '';
    }
  }

  // ---- The document class and the node additions ----------------------------------------------

  const documentMembers = {
    async: {
      get() { return states.get(this).async; },
      set(value) { states.get(this).async = !!value; }, // loading is always synchronous
    },
    validateOnParse: { get() { return false; }, set() {} },
    resolveExternals: { get() { return false; }, set() {} },
    preserveWhiteSpace: {
      get() { return states.get(this).preserveWhiteSpace; },
      set(value) { states.get(this).preserveWhiteSpace = !!value; },
    },
    readyState: { get() { return 4; } },
    parseError: { get() { return states.get(this).parseError; } },
    url: { get() { return states.get(this).url; } },
    // The file this document was last loaded from or saved to, as it was then: {path, identity}
    // (the host's identity of the file, see __tavreloHost.fileIdentity); null after a failed
    // load or save, or when the content came from text.
    // How many characters that XML does not allow the last load removed (see
    // DropForbiddenCharacters); 0 when the source was well-formed as it was.
    droppedCharacters: { get() { return states.get(this).droppedCharacters; } },
    fileIdentity: { get() { const file = states.get(this).file; return file ? { path: file.path, identity: file.identity } : null; } },
    load: { value(source) { return load(this, source); } },
    loadAsync: { value(source) { return loadAsync(this, source); } },
    loadXML: { value(text) { return loadText(this, text, ''); } },
    save: { value(destination) { save(this, destination); } },
    setProperty: {
      value(name, value) {
        const state = states.get(this);
        if (String(name) === 'SelectionNamespaces')
          state.selectionNamespaces = parseSelectionNamespaces(value);
        else
          state.properties.set(String(name), value);
      },
    },
    getProperty: {
      value(name) {
        const state = states.get(this);
        return String(name) === 'SelectionNamespaces' ? state.selectionNamespacesText : state.properties.get(String(name));
      },
    },
    createElement: {
      value(name) {
        const qualified = String(name);
        const colon = qualified.indexOf(':');
        const root = this.documentElement;
        if (colon > 0 && root) {
          const uri = root.lookupNamespaceURI(qualified.slice(0, colon));
          if (uri)
            return this.createElementNS(uri, qualified);
        }
        return Document.prototype.createElement.call(this, qualified);
      },
    },
  };

  function createDocument() {
    const doc = document.implementation.createDocument(null, null, null);
    Object.setPrototypeOf(doc, ComponentDocument);
    states.set(doc, {
      async: true, preserveWhiteSpace: false, parseError: noError(), url: '', file: null, droppedCharacters: 0,
      selectionNamespaces: new Map(), selectionNamespacesText: '', properties: new Map(),
    });
    return doc;
  }

  const ComponentDocument = Object.create(XMLDocument.prototype, documentMembers);

  // Node members of the component. `xml` and `text` answer only for nodes of XML documents, so
  // that the page's own HTML elements keep their usual members.
  const isXmlNode = (node) => ownerOf(node).contentType !== 'text/html';
  Object.defineProperties(Node.prototype, {
    xml: {
      configurable: true,
      get() { return isXmlNode(this) ? serializeNode(this) : undefined; },
    },
    text: {
      configurable: true,
      get() { return isXmlNode(this) ? this.textContent : undefined; },
      set(value) {
        if (isXmlNode(this))
          this.textContent = withoutForbidden(String(value));
      },
    },
    baseName: { configurable: true, get() { return this.localName; } },
    selectNodes: { configurable: true, value(expression) { return selectNodes(this, expression); } },
    selectSingleNode: { configurable: true, value(expression) { return selectSingleNode(this, expression); } },
    transformNode: { configurable: true, value(stylesheet) { return transformNode(this, stylesheet); } },
  });

  // Namespace declarations set as attributes are declarations, as in a parsed document, so the
  // prefix they declare resolves for createElement and queries at once. Values lose the
  // characters XML does not allow, so the document holds what its file will hold.
  const nativeSetAttribute = Element.prototype.setAttribute;
  const nativeSetAttributeNS = Element.prototype.setAttributeNS;
  Element.prototype.setAttribute = function (name, value) {
    if (!isComponentDocument(this.ownerDocument))
      return nativeSetAttribute.call(this, name, value);
    const qualified = String(name);
    if (qualified === 'xmlns' || qualified.startsWith('xmlns:'))
      return nativeSetAttributeNS.call(this, XMLNS, qualified, String(value));
    return nativeSetAttribute.call(this, qualified, withoutForbidden(String(value)));
  };
  Element.prototype.setAttributeNS = function (namespace, name, value) {
    if (!isComponentDocument(this.ownerDocument))
      return nativeSetAttributeNS.call(this, namespace, name, value);
    return nativeSetAttributeNS.call(this, namespace, name, withoutForbidden(String(value)));
  };

  // Data islands: <XML id="…" src="…"> elements answer their document.
  const islands = new WeakMap();
  Object.defineProperty(HTMLUnknownElement.prototype, 'XMLDocument', {
    configurable: true,
    get() {
      if (this.tagName !== 'XML')
        return undefined;
      if (!islands.has(this)) {
        const doc = createDocument();
        doc.async = false;
        const source = this.getAttribute('src');
        if (source)
          load(doc, new URL(source, this.ownerDocument.baseURI).href);
        else
          loadText(doc, this.innerHTML, '');
        islands.set(this, doc);
      }
      return islands.get(this);
    },
  });

  for (const progId of ['Microsoft.XMLDOM', 'MSXML.DOMDocument', 'MSXML2.DOMDocument'])
    host.registerScriptClass(progId, createDocument);

  // A document handed to a modal dialog (or returned by one) arrives as a copy with the same
  // content: the dialog runs in a process of its own, so it travels as its text.
  host.registerMarshaller('Microsoft.XMLDOM', isComponentDocument, (doc) => serializeNode(doc), (text) => {
    const doc = createDocument();
    doc.async = false;
    loadText(doc, text, '');
    return doc;
  });
})();
