// Evaluated in the viewer's main page by the folder tests: clicks folders in the tree and reads
// the outline back as the left frame shows it.
window.folderProbe = (() => {
  const item = (uin) => fnGetTreeHolder().querySelector('li[UIN="' + uin + '"]');

  function select(uin) {
    item(uin).firstElementChild.click();
  }

  // Every folder of the outline by UIN: its parent's UIN, its label's text and how many elements
  // the label holds, its class, and whether it is the current folder.
  function tree() {
    const folders = {};
    for (const li of fnGetTreeHolder().querySelectorAll('li')) {
      const parent = li.parentElement.closest('li');
      folders[li.getAttribute('UIN')] = {
        parent: parent ? parent.getAttribute('UIN') : null,
        name: li.firstElementChild.textContent,
        elements: li.firstElementChild.children.length,
        cls: li.className,
        current: li.firstElementChild === fnGetTree().GetCurrentNode(),
      };
    }
    return folders;
  }

  // Starts a command that opens dialogs, so that the caller can answer them; the command's end
  // is seen by evaluating `folderProbe.done()`, which the page answers once it is idle again.
  function start(command) {
    window.folderCommand = { done: false, result: undefined };
    setTimeout(() => {
      window.folderCommand.result = command();
      window.folderCommand.done = true;
    });
    return true;
  }

  return { item, select, tree, start, done: () => window.folderCommand.done, result: () => window.folderCommand.result };
})();
true;
