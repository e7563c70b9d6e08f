// Evaluated in the viewer's main page by the fragment-list tests: acts as a user does (clicks in
// the tree, selections in the list) and reads the list back as the right frame shows it.
window.listProbe = (() => {
  const right = () => fnFrame('ktRightFrame');
  const holder = () => fnGetQuilletHolder();
  const tables = () => Array.from(holder().querySelectorAll('table.Fragment'));
  const uins = () => tables().map((table) => table.getAttribute('UIN'));
  const idle = () => FolderChangeTimer == -1 && goQueuedList === null;
  const table = (uin) => right().document.getElementById('id' + uin);
  const expanded = () => tables().map((t) => {
    const text = t.querySelector('.FragmentText');
    return !!text && right().getComputedStyle(text).overflow == 'visible';
  });

  function selectFolder(uin) {
    fnFrame('ktLeftFrame').document.querySelector('li[UIN="' + uin + '"] > span').click();
  }

  // Runs action and resolves once the list is complete with its arrivals: the number of
  // fragments shown after each insertion and when, in ms from the action.
  function watch(action) {
    return new Promise((resolve) => {
      const arrivals = [];
      const start = performance.now();
      const observer = new MutationObserver(() => {
        arrivals.push({ count: tables().length, at: performance.now() - start });
        if (idle()) {
          observer.disconnect();
          resolve(arrivals);
        }
      });
      observer.observe(holder(), { childList: true });
      action();
    });
  }

  // Starts the long list of folder longUin and, as soon as its first chunk is in, chooses
  // shortUin; resolves after three chunk periods with what arrived.
  function interrupt(longUin, shortUin) {
    return new Promise((resolve) => {
      const seen = [];
      const observer = new MutationObserver(() => {
        seen.push(tables().length);
        if (seen.length == 1)
          selectFolder(shortUin);
      });
      observer.observe(holder(), { childList: true });
      selectFolder(longUin);
      setTimeout(() => {
        observer.disconnect();
        resolve({ seen: seen, uins: uins() });
      }, 3 * kListChunkMs);
    });
  }

  // What the list shows of one fragment.
  function view(uin) {
    const t = table(uin);
    const one = (selector) => t.querySelector(selector);
    const link = one('a.BaseURL');
    return {
      rows: Array.from(t.rows).map((row) => row.className),
      cols: t.getAttribute('COLS'),
      colWidths: Array.from(t.querySelectorAll('col')).map((col) => col.style.width),
      fieldNames: Array.from(t.querySelectorAll('td.FieldTitle')).map((cell) => cell.firstChild.textContent),
      toolsRow: one('.FragmentTools') ? one('.FragmentTools').closest('tr').className : null,
      toolsCell: one('.FragmentTools') ? one('.FragmentTools').parentElement.className : null,
      date: one('.Date') ? one('.Date').textContent : null,
      title: one('.FragmentTitle') ? one('.FragmentTitle').textContent : null,
      titleElements: one('.FragmentTitle') ? one('.FragmentTitle').children.length : 0,
      textHTML: one('.FragmentText') ? one('.FragmentText').innerHTML : null,
      comment: one('.FragmentComment') ? one('.FragmentComment').textContent : null,
      commentElements: one('.FragmentComment') ? one('.FragmentComment').children.length : 0,
      href: link ? link.getAttribute('href') : null,
      linkText: link ? link.textContent : null,
    };
  }

  // Selects from the middle of the text of the fragment at index `from` to the middle of that at `to`.
  function selectAcross(from, to) {
    const textOf = (i) => tables()[i].querySelector('.FragmentText').firstChild;
    const range = right().document.createRange();
    range.setStart(textOf(from), 4);
    range.setEnd(textOf(to), 4);
    const selection = right().getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
  }

  // Clicks the edit button of a fragment's row; the edit box that opened.
  function edit(uin, rowClass) {
    table(uin).querySelector('tr.' + rowClass + ' img.ChangeButton').click();
    const box = right().document.getElementById('RenameEdit');
    return box ? { height: box.getBoundingClientRect().height, focused: right().document.activeElement === box, value: box.value } : null;
  }

  // The middle of an element of the list in the window's coordinates, for real mouse events.
  function centre(element) {
    const frame = document.getElementById('ktRightFrame').getBoundingClientRect(), box = element.getBoundingClientRect();
    return { x: Math.round(frame.left + box.left + box.width / 2), y: Math.round(frame.top + box.top + box.height / 2) };
  }

  // Presses and releases a toolbar button, which runs its command.
  function press(which) {
    for (const type of ['mousedown', 'mouseup'])
      button(which).dispatchEvent(new MouseEvent(type, { button: 0, bubbles: true }));
  }

  // A toolbar button by id or CSS selector, its middle in the window's coordinates, and the looks
  // of buttons (flat, raised, sunken, stuck).
  const button = (which) => fnFrame('ktToolBars').document.querySelector(/^[A-Za-z]\w*$/.test(which) ? '#' + which : which);
  function buttonAt(which) {
    const frame = document.getElementById('ktToolBars').getBoundingClientRect(), box = button(which).getBoundingClientRect();
    return { x: Math.round(frame.left + box.left + box.width / 2), y: Math.round(frame.top + box.top + box.height / 2) };
  }
  const looks = (...which) => which.map((w) => button(w).getAttribute('kt_look')).join(' ');

  // An exported page as the engine reads it.
  function readExport(html) {
    const page = new DOMParser().parseFromString(html, 'text/html');
    const text = (element) => element ? element.textContent : null;
    return {
      title: page.title,
      contents: Array.from(page.querySelectorAll('td.Contents div.ContentsEntry')).map((entry) => {
        const first = entry.firstChild;
        return (first.nodeName == 'A' ? first.getAttribute('href') + ' ' : '') + first.textContent;
      }),
      headings: Array.from(page.querySelectorAll('td.FolderHead > *')).map((h) => h.tagName + ' ' + h.textContent + ' ' + h.firstChild.getAttribute('name')),
      fragments: Array.from(page.querySelectorAll('table.Fragment')).map((t) => ({
        rows: Array.from(t.tBodies[0].rows).map((row) => row.className),
        cols: t.getAttribute('cols'),
        fieldNames: Array.from(t.querySelectorAll('td.FieldTitle')).map(text),
        source: t.querySelector('div.Source a') ? t.querySelector('div.Source a').getAttribute('href') : null,
        sourceRow: t.querySelector('div.Source') ? t.querySelector('div.Source').closest('tr').className : null,
        title: text(t.querySelector('div.FragmentTitle')),
        textHTML: t.querySelector('tr.Text td.FieldData div') ? t.querySelector('tr.Text td.FieldData div').innerHTML : null,
      })),
      elements: ['script', 'img', 'b', 'i', 'iframe'].map((tag) => page.getElementsByTagName(tag).length).join(),
    };
  }

  return { right, holder, tables, uins, idle, table, expanded, selectFolder, watch, interrupt, view, selectAcross, edit, centre, press,
           button, buttonAt, looks, readExport };
})();
true;
