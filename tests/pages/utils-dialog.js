// The dialog side of the fitting test: places the Cancel button where the opener asked, fits the
// dialog, waits until the page's layout has taken the new window size and reports the sizes.
function utilsDialogSizes() {
  const box = document.compatMode === 'BackCompat' ? document.body : document.documentElement;
  return {
    outerWidth: parseInt(window.dialogWidth, 10), outerHeight: parseInt(window.dialogHeight, 10),
    innerWidth: box.clientWidth + box.clientLeft, innerHeight: box.clientHeight + box.clientTop,
  };
}

window.onload = async function () {
  const args = window.dialogArguments;
  const result = { quirks: document.compatMode === 'BackCompat' };
  try {
    const cancel = document.getElementById('Cancel');
    cancel.style.top = args.top + 'px';
    cancel.style.left = args.left + 'px';
    const r = cancel.getBoundingClientRect();
    result.rect = [r.left, r.top, r.right, r.bottom].join();
    result.before = utilsDialogSizes();
    const chrome = [result.before.outerWidth - result.before.innerWidth, result.before.outerHeight - result.before.innerHeight];
    fnResizeDialogIfNotFit();
    result.settled = await PageTest.waitFor(() => {
      const now = utilsDialogSizes();
      return now.outerWidth - now.innerWidth === chrome[0] && now.outerHeight - now.innerHeight === chrome[1] && now;
    }, 'the layout of the new size');
    fnResizeDialogIfNotFit();
    result.again = utilsDialogSizes();
  } catch (e) {
    result.error = String(e && e.stack || e);
  }
  window.returnValue = result;
  window.close();
};
