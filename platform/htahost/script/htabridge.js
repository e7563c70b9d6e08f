// The HTML Application's world for a page of a registered library. Runs at document creation in
// every frame, before the page's own scripts: helper objects created from OBJECT elements and
// ActiveXObject and called synchronously, their events, message boxes, modal dialogs, the
// application element's properties, window.close and the page's files.
//
// Every call to the host is a synchronous request to the reserved path "$bridge" of the res:
// scheme; the host answers when the work is done. Events come back on one long-lived request
// per frame, so they run when the page's script is idle.
(function () {
  'use strict';
  if (location.protocol !== 'res:' || window.__tavreloHost)
    return;

  const kBridge = 'res:///$bridge/';
  const kMaxQuery = 1500000; // longer calls are sent in parts (addresses are limited to 2 MB)
  const kSlice = 1000000;
  const kStageAbove = 65536; // longer calls go through the web channel when it is there
  const DISPATCH_METHOD = 1, DISPATCH_PROPERTYGET = 2, DISPATCH_PROPERTYPUT = 4;
  const E_FAIL = 0x80004005 | 0;
  const frameId = crypto.randomUUID();
  let transferCount = 0;

  function hostError(number, description) {
    const error = new Error(description);
    error.number = number | 0;
    error.description = description;
    return error;
  }

  function request(path, query) {
    const xhr = new XMLHttpRequest();
    try {
      xhr.open('GET', kBridge + path + '?' + query, false);
      xhr.send();
    } catch (e) {
      throw hostError(E_FAIL, 'The host cannot be reached: ' + e.message);
    }
    // A whole file comes back as the plain text it is; everything else as JSON.
    if ((xhr.getResponseHeader('Content-Type') || '').startsWith('text/plain'))
      return xhr.responseText;
    let answer;
    try {
      answer = JSON.parse(xhr.responseText);
    } catch (e) {
      throw hostError(E_FAIL, 'The host gave no answer.');
    }
    if (answer.error)
      throw hostError(answer.error.number, answer.error.description);
    return answer.result;
  }

  // Long calls are staged through the page's web channel when it is there (its set-up finishes
  // soon after the page starts), else sent in parts of addresses.
  let bulk = null;
  if (typeof QWebChannel === 'function' && typeof qt === 'object' && qt && qt.webChannelTransport) {
    new QWebChannel(qt.webChannelTransport, function (channel) {
      bulk = channel.objects.tavreloBulk || null;
    });
  }

  // The length of the texts in a call, without writing it out: long calls are long for their texts.
  function textLength(value) {
    if (typeof value === 'string')
      return value.length;
    let length = 0;
    if (value && typeof value === 'object')
      for (const key in value)
        length += textLength(value[key]);
    return length;
  }

  // Calls the host; a call too long for one address is staged or goes in parts that the host joins.
  function call(method, payload) {
    payload.frame = frameId;
    if (bulk && textLength(payload) > kStageAbove) {
      const id = frameId + '.' + (++transferCount);
      bulk.stage(id, payload);
      return request(method, encodeURIComponent(JSON.stringify({ $staged: id, frame: frameId })));
    }
    let query = encodeURIComponent(JSON.stringify(payload));
    if (query.length > kMaxQuery) {
      const transfer = frameId + '.' + (++transferCount);
      let part = 0;
      for (let at = 0; at < query.length;) {
        let end = Math.min(at + kSlice, query.length);
        const escape = query.lastIndexOf('%', end - 1);
        if (end < query.length && escape >= end - 2)
          end = escape; // never cut through a %XX escape
        request('part/' + transfer + '/' + part++, query.slice(at, end));
        at = end;
      }
      query = encodeURIComponent(JSON.stringify({ $transfer: transfer, frame: frameId }));
    }
    return request(method, query);
  }

  const hello = call('hello', { url: location.href });

  // ---- Values crossing to the host ----------------------------------------------------------

  const objectIds = new WeakMap(); // script object or element -> host object id
  const documentUrl = Symbol('documentUrl');
  const marshallers = []; // {type, matches, save, load}: script types copied into and out of dialogs

  function toWire(value) {
    if (value === undefined)
      return { $empty: 1 };
    if (value === null || typeof value === 'string' || typeof value === 'boolean')
      return value;
    if (typeof value === 'number')
      return Number.isFinite(value) ? value : null;
    if (objectIds.has(value))
      return { $object: objectIds.get(value) };
    if (value[documentUrl] !== undefined)
      return { $document: value[documentUrl] };
    if (value.nodeType === 9 && value.location)
      return { $document: String(value.location.href) };
    return { $unsupported: typeof value };
  }

  function fromWire(value) {
    if (value && typeof value === 'object') {
      if (value.$empty)
        return undefined;
      if (value.$object)
        return automationObject(value.$object);
    }
    return value;
  }

  // Dialog arguments and return values are copied: plain data as JSON, registered script types
  // by their marshallers.
  function saveDeep(value) {
    if (value === undefined)
      return { $empty: 1 };
    return JSON.parse(JSON.stringify(value, function (key, item) {
      if (item && typeof item === 'object')
        for (const m of marshallers)
          if (m.matches(item))
            return { $type: m.type, data: m.save(item) };
      return item;
    }));
  }

  function loadDeep(value) {
    if (value && typeof value === 'object' && value.$empty)
      return undefined;
    return JSON.parse(JSON.stringify(value), function (key, item) {
      if (item && typeof item === 'object' && typeof item.$type === 'string') {
        const m = marshallers.find((entry) => entry.type === item.$type);
        if (m)
          return m.load(item.data);
      }
      return item;
    });
  }

  // ---- Automation objects -------------------------------------------------------------------

  const sinks = new Map(); // sink id -> function(eventName)
  let polling = false;

  function poll() {
    const xhr = new XMLHttpRequest();
    xhr.open('GET', kBridge + 'poll?' + encodeURIComponent(JSON.stringify({ frame: frameId })), true);
    xhr.onload = function () {
      let events = [];
      try {
        events = JSON.parse(xhr.responseText).result || [];
      } catch (e) {
        console.error('Unreadable events from the host.');
      }
      for (const event of events) {
        const handler = sinks.get(event.sink);
        if (handler) {
          try {
            handler(event.event);
          } catch (e) {
            console.error(e);
          }
        }
      }
      // Tell the host at once, before any other script of the page runs, that these handlers
      // are done: an object that raised one of them may be waiting to take back its values.
      if (events.length)
        call('handled', { number: events[events.length - 1].number });
      poll();
    };
    xhr.onerror = function () {
      polling = false;
    };
    xhr.send();
  }

  // A sink for the object's events; with an event name, for that event only.
  function connect(info, handler, event) {
    const sink = call('advise', event ? { object: info.id, event: event } : { object: info.id });
    sinks.set(sink, handler);
    if (!polling) {
      polling = true;
      setTimeout(poll, 0);
    }
    return sink;
  }

  function disconnect(info, sink) {
    if (sinks.delete(sink))
      call('unadvise', { object: info.id, sink: sink });
  }

  function invoke(info, name, flags, args) {
    return fromWire(call('invoke', { object: info.id, name: name, flags: flags, args: args.map(toWire) }));
  }

  // Handlers assigned as properties (idHelper.onfilechanged = f) share one sink.
  function setPropertyHandler(info, event, handler) {
    info.propertyHandlers[event] = typeof handler === 'function' ? handler : null;
    if (info.propertySink === undefined)
      info.propertySink = connect(info, function (name) {
        const h = info.propertyHandlers[name];
        if (h)
          h.call(window);
      });
  }

  // attachEvent connects a sink of its own for each handler; detachEvent leaves its place empty.
  function attachEvent(info, event, handler) {
    const name = String(event).toLowerCase();
    if (!info.events.includes(name) || typeof handler !== 'function')
      return false;
    const sink = connect(info, function (raised) {
      if (raised === name)
        handler.call(window);
    }, name);
    info.attached.push({ name: name, handler: handler, sink: sink });
    return true;
  }

  function detachEvent(info, event, handler) {
    const name = String(event).toLowerCase();
    const at = info.attached.findIndex((entry) => entry.name === name && entry.handler === handler);
    if (at >= 0)
      disconnect(info, info.attached.splice(at, 1)[0].sink);
  }

  const kNotMembers = new Set(['then', 'toJSON']);

  function readMember(info, name) {
    if (info.failure)
      throw hostError(info.failure.number, info.failure.description);
    const lower = name.toLowerCase();
    if (lower === 'attachevent')
      return (event, handler) => attachEvent(info, event, handler);
    if (lower === 'detachevent')
      return (event, handler) => detachEvent(info, event, handler);
    if (info.events.includes(lower))
      return info.propertyHandlers[lower] || null;
    if (lower.startsWith('put_') && name.length > 4)
      return (...args) => invoke(info, name.slice(4), DISPATCH_PROPERTYPUT, args);
    if (!info.members) // no type information: the call fails with the host's reason
      return invoke(info, name, DISPATCH_PROPERTYGET, []);
    const member = info.members[lower];
    if (!member)
      return undefined;
    if (member.get === 0 && !member.method)
      return invoke(info, name, DISPATCH_PROPERTYGET, []);
    return (...args) => invoke(info, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
  }

  function writeMember(info, name, value) {
    if (info.failure)
      throw hostError(info.failure.number, info.failure.description);
    const lower = name.toLowerCase();
    if (info.events.includes(lower)) {
      setPropertyHandler(info, lower, value);
      return true;
    }
    if (!info.members || (info.members[lower] && info.members[lower].put)) {
      invoke(info, name, DISPATCH_PROPERTYPUT, [value]);
      return true;
    }
    return false;
  }

  function memberHandler(info) {
    return {
      get(target, property, receiver) {
        if (typeof property !== 'string' || property in target || kNotMembers.has(property))
          return Reflect.get(target, property, receiver);
        return readMember(info, property);
      },
      set(target, property, value, receiver) {
        if (typeof property === 'string' && !(property in target) && writeMember(info, property, value))
          return true;
        return Reflect.set(target, property, value, receiver);
      },
    };
  }

  function prepareInfo(info) {
    info.events = (info.events || []).map((name) => name.toLowerCase());
    info.propertyHandlers = {};
    info.attached = [];
    return info;
  }

  // Members are reached through the object's prototype, so the element stays an element.
  function attachMembers(target, info) {
    Object.setPrototypeOf(target, new Proxy(Object.getPrototypeOf(target), memberHandler(prepareInfo(info))));
    if (info.id)
      objectIds.set(target, info.id);
    return target;
  }

  function automationObject(info) {
    return attachMembers({}, info);
  }

  function failureOf(error) {
    return { failure: { number: error.number | 0, description: error.description || error.message } };
  }

  // ---- OBJECT elements and SCRIPT FOR blocks ------------------------------------------------

  const elementInfos = new WeakMap();
  const waitingHandlers = []; // SCRIPT FOR blocks whose object does not exist yet

  function adoptObjectElement(element) {
    if (elementInfos.has(element))
      return;
    const match = /^\s*clsid:\{?([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})\}?\s*$/i.exec(
      element.getAttribute('classid') || '');
    if (!match)
      return;
    let info;
    try {
      info = call('create', { clsid: '{' + match[1] + '}' });
    } catch (e) {
      info = failureOf(e);
    }
    attachMembers(element, info);
    elementInfos.set(element, info);
    for (let i = waitingHandlers.length - 1; i >= 0; i--) {
      if (waitingHandlers[i].target === element.id) {
        const waiting = waitingHandlers.splice(i, 1)[0];
        waiting.bind(info);
      }
    }
  }

  const boundScripts = new WeakSet(); // an element may be seen in several mutation records

  function bindScriptFor(script) {
    const target = script.getAttribute('for'), event = script.getAttribute('event');
    if (!target || !event || boundScripts.has(script))
      return;
    boundScripts.add(script);
    const name = event.replace(/\(\s*\)\s*$/, '').trim().toLowerCase();
    let body;
    try {
      body = new Function(script.text);
    } catch (e) {
      console.error(e);
      return;
    }
    const bind = function (info) {
      if (!info.failure && info.events.includes(name))
        connect(info, function (raised) {
          if (raised === name)
            body.call(window);
        }, name);
    };
    const element = document.getElementById(target);
    if (element && elementInfos.has(element))
      bind(elementInfos.get(element));
    else
      waitingHandlers.push({ target: target, bind: bind });
  }

  function adoptNode(node) {
    if (node.nodeType !== 1)
      return;
    if (node.tagName === 'OBJECT')
      adoptObjectElement(node);
    else if (node.tagName === 'SCRIPT' && node.hasAttribute('for'))
      bindScriptFor(node);
    for (const child of node.querySelectorAll('object, script[for]'))
      adoptNode(child);
  }

  new MutationObserver(function (records) {
    for (const record of records)
      for (const node of record.addedNodes)
        adoptNode(node);
  }).observe(document, { childList: true, subtree: true });

  // ---- The application's window -------------------------------------------------------------

  const scriptClasses = new Map();

  window.ActiveXObject = function ActiveXObject(progId) {
    if (!new.target)
      throw new TypeError("ActiveXObject must be called with 'new'");
    const factory = scriptClasses.get(String(progId).toLowerCase());
    if (factory)
      return factory();
    return automationObject(call('create', { progId: String(progId) }));
  };

  window.alert = function (message) {
    call('message', { text: arguments.length ? String(message) : '', buttons: 'ok' });
  };
  window.confirm = function (message) {
    return call('message', { text: arguments.length ? String(message) : '', buttons: 'okcancel' }) === 'ok';
  };
  window.close = function () {
    call('close', {});
  };
  window.print = function () {
    call('print', { html: '<!DOCTYPE html>' + document.documentElement.outerHTML, url: location.href });
  };
  window.showHelp = function (target) {
    call('help', { target: String(target) });
  };
  // A link into a new window goes to the host, which opens outside addresses with the desktop's
  // opener; the engine would refuse the window to a click that script made.
  document.addEventListener('click', function (event) {
    const link = event.target && event.target.closest && event.target.closest('a[href][target]');
    if (!link || ['', '_self', '_parent', '_top'].includes(link.target.toLowerCase()) ||
        Array.from(top.frames).some((frame) => frame.name === link.target))
      return;
    event.preventDefault();
    call('open', { url: link.href });
  }, true);

  window.showModalDialog = function (url, args, features) {
    const answer = call('modal', {
      url: new URL(String(url), location.href).href,
      arguments: saveDeep(args),
      features: features == null ? '' : String(features),
    });
    return answer && 'value' in answer ? loadDeep(answer.value) : undefined;
  };

  // What a capture dialog learns of an element of the captured window: its tag and scope names
  // as the design's engine gives them (HTA:APPLICATION is APPLICATION in the scope HTA), its
  // class, the application name of an application element, and the same of its parent.
  function elementSnapshot(element, depth) {
    if (!element || element.nodeType !== 1)
      return null;
    const name = String(element.tagName), colon = name.indexOf(':');
    return {
      tagName: (colon > 0 ? name.slice(colon + 1) : name).toUpperCase(),
      scopeName: colon > 0 ? name.slice(0, colon).toUpperCase() : 'HTML',
      className: String(element.className || ''),
      applicationName: colon > 0 ? String(element.getAttribute('applicationname') || '') : '',
      parent: depth > 0 ? elementSnapshot(element.parentElement, depth - 1) : null,
    };
  }
  // The capture dialog for a window of this application: the dialog's
  // window.external.menuArguments is that window with its title, address and selection, and the
  // elements `ids` of its document and of its top window's.
  function showCaptureDialog(url, captured, features, ids) {
    const selection = captured.getSelection();
    const text = selection ? selection.toString() : '';
    const elements = {}, topElements = {};
    for (const id of ids || []) {
      elements[id] = elementSnapshot(captured.document.getElementById(id), 1);
      topElements[id] = elementSnapshot(captured.top.document.getElementById(id) ||
                                        (captured.top[id] && captured.top[id].nodeType === 1 ? captured.top[id] : null), 1);
    }
    const answer = call('modal', {
      url: new URL(String(url), location.href).href,
      arguments: saveDeep(undefined),
      features: features == null ? '' : String(features),
      menuArguments: {
        title: String(captured.document.title), url: String(captured.location.href),
        selectionType: selection && !selection.isCollapsed && text ? 'Text' : 'None', text: text,
        elements: elements, topElements: topElements,
      },
    });
    return answer && 'value' in answer ? loadDeep(answer.value) : undefined;
  }

  // The application element (HTA:APPLICATION) answers with its attributes and the command line.
  const applicationProperties = {
    applicationName: ['applicationname', ''], border: ['border', 'thick'], borderStyle: ['borderstyle', 'normal'],
    caption: ['caption', 'yes'], icon: ['icon', ''], maximizeButton: ['maximizebutton', 'yes'],
    minimizeButton: ['minimizebutton', 'yes'], showInTaskbar: ['showintaskbar', 'yes'],
    singleInstance: ['singleinstance', 'no'], sysMenu: ['sysmenu', 'yes'], version: ['version', ''],
    windowState: ['windowstate', 'normal'],
  };
  const isApplicationElement = (element) => element.tagName === 'HTA:APPLICATION';
  for (const [property, [attribute, fallback]] of Object.entries(applicationProperties)) {
    Object.defineProperty(HTMLUnknownElement.prototype, property, {
      configurable: true,
      get() {
        return isApplicationElement(this) ? (this.getAttribute(attribute) ?? fallback) : undefined;
      },
    });
  }
  Object.defineProperty(HTMLUnknownElement.prototype, 'commandLine', {
    configurable: true,
    get() {
      return isApplicationElement(this) ? hello.commandLine : undefined;
    },
  });
  // A frameset page loses its application element while it is parsed (the element would open a
  // body, which the frameset replaces): the window then reaches a copy made from the attributes
  // the host read, under the element's ID.
  if (window === top && hello.application && hello.application.id) {
    const id = hello.application.id;
    let copy = null;
    Object.defineProperty(window, id, {
      configurable: true,
      get() {
        const element = document.getElementsByTagName('hta:application')[0];
        if (element)
          return element;
        if (!copy) {
          copy = document.createElement('hta:application');
          for (const [name, value] of Object.entries(hello.application))
            copy.setAttribute(name, value);
        }
        return copy;
      },
    });
  }
  Object.defineProperty(HTMLUnknownElement.prototype, 'scopeName', {
    configurable: true,
    get() {
      const colon = this.tagName.indexOf(':');
      return colon > 0 ? this.tagName.slice(0, colon) : 'HTML';
    },
  });

  // A dialog window: its arguments, its return value and its size and place.
  if (hello.dialog && window === top) {
    let dialogArguments, argumentsLoaded = false, returnValue;
    Object.defineProperty(window, 'dialogArguments', {
      get() {
        if (!argumentsLoaded) { // late, so that the page's own marshallers are registered
          dialogArguments = loadDeep(hello.dialog.arguments);
          argumentsLoaded = true;
        }
        return dialogArguments;
      },
    });
    Object.defineProperty(window, 'returnValue', {
      get() {
        return returnValue;
      },
      set(value) {
        returnValue = value;
        call('dialog.returnValue', { value: saveDeep(value) });
      },
    });
    for (const [property, key] of [['dialogWidth', 'width'], ['dialogHeight', 'height'], ['dialogLeft', 'left'], ['dialogTop', 'top']]) {
      Object.defineProperty(window, property, {
        get() {
          return call('dialog.geometry', {})[key] + 'px';
        },
        set(value) {
          const pixels = parseInt(value, 10);
          if (Number.isFinite(pixels))
            call('dialog.geometry', { [key]: pixels });
        },
      });
    }
  }

  // The capture dialog: the browser window whose selection is captured, as far as it is known.
  if (hello.menuArguments && window === top) {
    const captured = hello.menuArguments;
    const range = { text: captured.text, htmlText: '' };
    const doc = {
      title: captured.title,
      URL: captured.url,
      location: { href: captured.url, toString: () => captured.url },
      selection: { type: captured.selectionType, createRange: () => range },
      [documentUrl]: captured.url,
    };
    // Elements known of the captured window (a window of the application), without their content.
    const snapshots = (known) => (id) => {
      const toElement = (snapshot) => snapshot && {
        tagName: snapshot.tagName, scopeName: snapshot.scopeName, className: snapshot.className,
        applicationName: snapshot.applicationName, parentElement: toElement(snapshot.parent),
      };
      return known && Object.prototype.hasOwnProperty.call(known, id) ? toElement(known[id]) : null;
    };
    doc.getElementById = snapshots(captured.elements);
    const browserWindow = { document: doc, location: doc.location };
    browserWindow.parent = browserWindow.self = browserWindow.window = browserWindow;
    browserWindow.top = captured.topElements
      ? { document: { getElementById: snapshots(captured.topElements) } } : browserWindow;
    doc.parentWindow = browserWindow;
    Object.defineProperty(window.external, 'menuArguments', { value: browserWindow });
  }

  // beforeunload handlers run when the host closes the window, as ordinary script, so that they
  // can still call the host (a page that is being dismissed may not).
  const unloadListeners = [];
  const addListener = window.addEventListener;
  const removeListener = window.removeEventListener;
  window.addEventListener = function (type, listener, options) {
    if (String(type).toLowerCase() === 'beforeunload' && listener) {
      if (!unloadListeners.includes(listener))
        unloadListeners.push(listener);
      return;
    }
    return addListener.call(this, type, listener, options);
  };
  window.removeEventListener = function (type, listener, options) {
    if (String(type).toLowerCase() === 'beforeunload') {
      const at = unloadListeners.indexOf(listener);
      if (at >= 0)
        unloadListeners.splice(at, 1);
      return;
    }
    return removeListener.call(this, type, listener, options);
  };

  function runBeforeUnload() {
    const event = new Event('beforeunload');
    const handlers = unloadListeners.splice(0);
    const property = window.onbeforeunload;
    window.onbeforeunload = null;
    if (typeof property === 'function')
      handlers.unshift(property);
    for (const handler of handlers) {
      try {
        if (typeof handler === 'function')
          handler.call(window, event);
        else if (handler && typeof handler.handleEvent === 'function')
          handler.handleEvent(event);
      } catch (e) {
        console.error(e);
      }
    }
    for (let i = 0; i < window.frames.length; i++) {
      try {
        const host = window.frames[i].__tavreloHost;
        if (host)
          host.runBeforeUnload();
      } catch (e) {
        console.error(e);
      }
    }
    return true;
  }

  // The text as UTF-8, in parts for a blob. encodeInto into a buffer made beforehand is about
  // twice as fast as the engine's own encoding of a string put into a blob.
  function utf8Parts(text) {
    const encoder = new TextEncoder();
    const parts = [];
    for (let rest = text; rest.length;) {
      const buffer = new Uint8Array(Math.ceil(rest.length * (parts.length ? 3 : 1.25)) + 4);
      const done = encoder.encodeInto(rest, buffer);
      parts.push(buffer.subarray(0, done.written));
      rest = rest.slice(done.read);
    }
    return parts;
  }

  function readFile(path) {
    const read = call('file.read', { path: String(path) });
    return { text: call('file.content', { content: read.content }), identity: read.identity };
  }

  // A file parsed by the engine as a document of its own, in a hidden frame that runs no script:
  // the engine reads the bytes straight from the host as it parses them, without making them a
  // script string first. Resolves to {document, identity, declaration, release} (release removes
  // the frame once the document's nodes were taken), or to null when the file must go the way of
  // text: it cannot be read, its prolog holds more than a declaration and comments, or it is not
  // well-formed (the text's parse then tells why).
  function readFileDocument(path) {
    let read;
    try {
      read = call('file.read', { path: String(path), document: true });
    } catch (e) {
      return Promise.resolve(null);
    }
    if (!read.document)
      return Promise.resolve(null);
    const frame = document.createElement('iframe');
    frame.setAttribute('sandbox', 'allow-same-origin');
    frame.style.display = 'none';
    const release = () => frame.remove();
    return new Promise((resolve) => {
      frame.onload = () => {
        // Asked without touching a node: a node that script touched here keeps this frame's
        // prototypes wherever it goes.
        const parsed = frame.contentDocument;
        if (!parsed || !parsed.childElementCount || parsed.getElementsByTagNameNS('http://www.w3.org/1999/xhtml', 'parsererror').length) {
          release();
          resolve(null);
        } else {
          // The identity is the file's as it was opened: a file replaced or written while the
          // engine read it is no longer that file, so whoever looks at it next reads it again.
          resolve({ document: parsed, identity: read.identity, declaration: read.declaration || null, release: release });
        }
      };
      frame.src = kBridge + 'file.document?' + encodeURIComponent(JSON.stringify({ content: read.content, frame: frameId }));
      (document.body || document.documentElement).appendChild(frame);
    });
  }

  Object.defineProperty(window, '__tavreloHost', {
    value: Object.freeze({
      runBeforeUnload: runBeforeUnload,
      // Script classes that ActiveXObject creates without the host ("Microsoft.XMLDOM", ...).
      registerScriptClass(progId, factory) {
        scriptClasses.set(String(progId).toLowerCase(), factory);
      },
      showCaptureDialog: showCaptureDialog,
      // Script types copied into and out of modal dialogs.
      registerMarshaller(type, matches, save, load) {
        marshallers.push({ type: type, matches: matches, save: save, load: load });
      },
      // The page's files. A whole file: {text, identity}, where the identity tells whether
      // anybody wrote the file since (see fileIdentity).
      readFile: readFile,
      readFileDocument: readFileDocument,
      readTextFile(path) {
        return readFile(path).text;
      },
      // Writes the text whole and atomically, as UTF-8, or as UTF-16 little-endian with a
      // byte-order mark when encoding is "utf-16le"; the identity of the new file. The text may
      // be given in parts, which are written one after the other (a long text is not joined
      // first). A long UTF-8 text goes as a blob, which the engine writes into the file itself.
      writeTextFile(path, text, encoding) {
        const parts = Array.isArray(text) ? text.map(String) : [String(text)];
        const named = encoding == null ? '' : String(encoding);
        if (named || parts.reduce((length, part) => length + part.length, 0) <= kStageAbove)
          return call('file.write', { path: String(path), text: parts.join(''), encoding: named }).identity;
        const bytes = new Blob(parts.flatMap(utf8Parts), { type: 'application/octet-stream' });
        const blob = URL.createObjectURL(bytes);
        try {
          return call('file.write', { path: String(path), blob: blob, size: bytes.size }).identity;
        } finally {
          URL.revokeObjectURL(blob);
        }
      },
      // The identity of the file at the path now ('' when there is none): device, inode, size,
      // times and a digest of its first bytes. It stays the same until somebody writes the file.
      fileIdentity(path) {
        return call('file.identity', { path: String(path) });
      },
      // Watches the file at the path ('' for none) for changes on disk by anybody: each raises
      // the window's "tavrelofilechange" event (detail: the path), once the changes settled.
      watchFile(path) {
        return call('file.watch', { path: String(path || '') });
      },
      fileTouched(path) {
        window.dispatchEvent(new CustomEvent('tavrelofilechange', { detail: String(path) }));
      },
      // The size of the regular file at the path in bytes; -1 when there is none.
      fileSize(path) {
        return call('file.size', { path: String(path) });
      },
      // Where the window's content begins on the screen: {x, y}.
      contentScreenOrigin() {
        return call('window.origin', {});
      },
      // The user's home folder, where the default collection lives.
      homeDirectory: hello.home,
      // Keeps a copy of a damaged file beside it once: {copy, made}.
      preserveDamagedFile(path) {
        return call('file.preserve', { path: String(path) });
      },
    }),
  });
})();
