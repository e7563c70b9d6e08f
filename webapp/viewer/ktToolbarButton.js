// The toolbar button behaviour: an image button that draws flat, raised (mouse over) and sunken
// (pressed, down, or stuck while its command runs) states with a gray and a colour image, pairs
// a button with its drop-down arrow, supports check buttons and runs its command on mouse-up.
// Attached to every image of class ToolbarButton of the toolbar page.
//
// Markup attributes: activesrc, graysrc, kt_onclick (script text run in the page's window),
// kt_checkbutton, kt_state, kt_disabled, kt_dropdown, kt_sticky (flags).

// Flags are read leniently: true and numbers other than 0 are true; "false", false, "0", 0 and
// anything that is not a number are false.
function fnToolbarFlag(vValue)
{
    if (vValue === true || vValue === false)
        return vValue;
    if (vValue === null || vValue === undefined || String(vValue).replace(/\s+/g, "") === "")
        return false;
    var nValue = Number(vValue);
    return !isNaN(nValue) && nValue != 0;
}

var kBorderFlat = ["#C0C0C0", "#C0C0C0", "#C0C0C0", "#C0C0C0"]; // top, right, bottom, left
var kBorderRaised = ["white", "black", "black", "white"];
var kBorderSunken = ["black", "white", "white", "black"];

function ktToolbarButtonAttach(oButton)
{
    var bCheck = fnToolbarFlag(oButton.getAttribute("kt_checkbutton"));
    var bState = fnToolbarFlag(oButton.getAttribute("kt_state"));
    var bDisabled = fnToolbarFlag(oButton.getAttribute("kt_disabled"));
    var bDropDown = fnToolbarFlag(oButton.getAttribute("kt_dropdown"));
    var bSticky = fnToolbarFlag(oButton.getAttribute("kt_sticky"));
    var sOnClick = oButton.getAttribute("kt_onclick") || "";
    var bStuck = false, bHover = false, bPressed = false;
    var bRememberedHover = false, bRememberedPressed = false; // take effect when unstuck

    function fnIsButton(oElement) { return !!oElement && oElement.kt_toolbar_button === 1; }
    // The arrow after a main button, or the main button before an arrow.
    function fnPartner()
    {
        var oOther = bDropDown ? oButton.previousElementSibling : oButton.nextElementSibling;
        if (!fnIsButton(oOther) || oOther.kt_dropdown == bDropDown)
            return null;
        return oOther;
    }

    function fnBorder(aColours)
    {
        oButton.style.borderStyle = "solid";
        oButton.style.borderWidth = "1px";
        oButton.style.borderColor = aColours.join(" ");
    }
    function fnImage(bColour)
    {
        var sSource = oButton.getAttribute(bColour ? "activesrc" : "graysrc");
        if (sSource && oButton.getAttribute("src") != sSource)
            oButton.setAttribute("src", sSource);
    }
    function fnDraw()
    {
        if (!bCheck)
            bState = false;
        var bDown = bCheck && bState;
        if (bStuck) {
            fnImage(true);
            fnBorder(kBorderSunken);
        } else if (bDisabled) {
            fnImage(false);
            fnBorder(bDown ? kBorderSunken : kBorderFlat);
        } else if (bDown || bPressed) {
            fnImage(bHover);
            fnBorder(kBorderSunken);
        } else if (bHover) {
            fnImage(true);
            fnBorder(kBorderRaised);
        } else {
            fnImage(false);
            fnBorder(kBorderFlat);
        }
        oButton.setAttribute("kt_look", bStuck ? "stuck" : bDown || (bPressed && !bDisabled) ? "sunken" :
                             bHover && !bDisabled ? "raised" : "flat");
    }

    function fnStickSelf()
    {
        if (bStuck)
            return;
        bStuck = true;
        bRememberedHover = bHover;
        bRememberedPressed = false;
        fnDraw();
    }
    function fnUnstickSelf()
    {
        if (!bStuck)
            return;
        bStuck = false;
        bHover = bRememberedHover;
        bPressed = bRememberedPressed;
        fnDraw();
    }
    function fnSetHover(bOn)
    {
        if (bStuck) {
            bRememberedHover = bOn;
            if (!bOn)
                bRememberedPressed = false;
            return;
        }
        bHover = bOn;
        if (!bOn)
            bPressed = false;
        fnDraw();
    }

    Object.defineProperties(oButton, {
        kt_toolbar_button: { get: function () { return 1; } },
        kt_checkbutton: { get: function () { return bCheck; }, set: function (v) { bCheck = fnToolbarFlag(v); fnDraw(); } },
        kt_state: { get: function () { return bState; }, set: function (v) { bState = fnToolbarFlag(v); fnDraw(); } },
        kt_disabled: {
            get: function () { return bDisabled; },
            set: function (v) {
                bDisabled = fnToolbarFlag(v);
                bHover = bPressed = bStuck = false;
                var oArrow = bDropDown ? null : fnPartner();
                if (oArrow)
                    oArrow.kt_disabled = bDisabled;
                fnDraw();
            },
        },
        kt_dropdown: { get: function () { return bDropDown; }, set: function (v) { bDropDown = fnToolbarFlag(v); } },
        kt_sticky: { get: function () { return bSticky; }, set: function (v) { bSticky = fnToolbarFlag(v); } },
        kt_onclick: { get: function () { return sOnClick; }, set: function (v) { sOnClick = String(v || ""); } },
    });
    oButton.kt_stick_self = fnStickSelf;
    oButton.kt_unstick_self = fnUnstickSelf;
    oButton.kt_mouseover = function () { fnSetHover(true); };
    oButton.kt_mouseout = function () { fnSetHover(false); };
    oButton.kt_unstick = function () {
        if (!bStuck)
            return;
        fnUnstickSelf();
        var oPartner = fnPartner();
        if (oPartner)
            oPartner.kt_unstick_self();
    };

    oButton.addEventListener("mousedown", function (oEvent) {
        if (oEvent.button != 0 || bDisabled)
            return;
        oEvent.preventDefault();
        if (bStuck) {
            bRememberedPressed = true;
            return;
        }
        bPressed = true;
        fnDraw();
    });
    oButton.addEventListener("mouseup", function (oEvent) {
        if (oEvent.button != 0 || bDisabled)
            return;
        if (bStuck) {
            bRememberedPressed = false;
            return;
        }
        if (!bPressed)
            return;
        if (bCheck)
            bState = !bState;
        bPressed = false;
        if (sOnClick) {
            if (bSticky) {
                fnStickSelf();
                var oPartner = fnPartner();
                if (oPartner && oPartner.kt_sticky)
                    oPartner.kt_stick_self();
            }
            fnDraw();
            new oButton.ownerDocument.defaultView.Function(sOnClick).call(oButton);
        } else {
            fnDraw();
        }
    });
    oButton.addEventListener("mouseenter", function () {
        if (bDisabled)
            return;
        fnSetHover(true);
        var oPartner = fnPartner();
        if (oPartner)
            oPartner.kt_mouseover();
    });
    oButton.addEventListener("mouseleave", function () {
        if (bDisabled)
            return;
        fnSetHover(false);
        var oPartner = fnPartner();
        if (oPartner)
            oPartner.kt_mouseout();
    });
    oButton.addEventListener("dragstart", function (oEvent) { oEvent.preventDefault(); });
    // A button never keeps the keyboard focus: it goes to the list.
    oButton.addEventListener("focus", function () {
        try {
            top.fnFrame("ktRightFrame").focus();
        } catch (e) {
        }
    });
    fnDraw();
    return oButton;
}

function ktToolbarButtonsAttach(oDocument)
{
    var oButtons = oDocument.querySelectorAll("img.ToolbarButton");
    for (var i = 0; i < oButtons.length; i++)
        ktToolbarButtonAttach(oButtons[i]);
}
