// What the folder dialogs share: the shared scripts loaded once more when they did not arrive
// with the page, Enter and Esc, and the behaviour of the name dialogs (a label, the box ctlName,
// OK and Cancel).

// Calls fnThen once the scripts are there. aScripts holds {src, ready} pairs in loading order;
// ready() fails (throws or returns false) while its script is missing, which is then loaded once
// more before the next is looked at.
function fnEnsureScripts(aScripts, fnThen)
{
    var nAt = 0;
    function fnNext()
    {
        while (nAt < aScripts.length) {
            var oScript = aScripts[nAt++], bReady = false;
            try {
                bReady = oScript.ready() !== false;
            } catch (e) {
            }
            if (!bReady) {
                fnLoadScriptAgain(oScript.src, fnNext);
                return;
            }
        }
        fnThen();
    }
    fnNext();
}

function fnLoadScriptAgain(sSrc, fnThen)
{
    var oElement = document.createElement("script");
    oElement.src = sSrc;
    oElement.onload = oElement.onerror = fnThen;
    document.head.appendChild(oElement);
}

// Esc cancels the dialog; Enter confirms it unless a button has the focus (its click does).
function fnOnDialogKey(oEvent, fnOK, fnCancel)
{
    if (oEvent.key == "Escape") {
        oEvent.preventDefault();
        fnCancel();
    } else if (oEvent.key == "Enter" && oEvent.target.type != "button") {
        oEvent.preventDefault();
        fnOK();
    }
}

function fnDialogCancel()
{
    window.close();
}

// ---- The name dialogs ----------------------------------------------------------------------------

// Shows the title and the label, fills the box with sText, selects and focuses it, and grows the
// dialog until its buttons fit.
function fnStartNameDialog(sTitle, sLabel, sText)
{
    document.title = sTitle;
    document.getElementById("ctlLabel").textContent = sLabel;
    var oBox = document.getElementById("ctlName");
    oBox.value = sText;
    oBox.select();
    oBox.focus();
    fnEnsureScripts([{ src: "ktUtils.js", ready: function () { return typeof fnResizeDialogIfNotFit == "function"; } }],
                    function () {
                        try {
                            fnResizeDialogIfNotFit();
                        } catch (e) {
                        }
                    });
}

// OK returns the box's text as it is; the command normalizes it.
function fnNameDialogOK()
{
    window.returnValue = document.getElementById("ctlName").value;
    window.close();
}
