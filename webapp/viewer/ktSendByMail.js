// Send by mail: the current folder, written into a new collection file in the temporary folder
// named after the open collection, handed to a mail client that opens a message with it attached.

var sbmDefault = 1;
var sbmSelected = 2;

var smcmOK = 0;
var smcmCancel = 1;
var smcmNoClients = 2;
var smcmNoDefaultClient = 3;
var smcmNoDLL = 4;
var smcmNoInterface = 5;
var smcmMAPI_E_ATTACHMENT_OPEN_FAILURE = 6;
var smcmMAPI_E_ATTACHMENT_WRITE_FAILURE = 7;
var smcmMAPI_E_FAILURE = 8;
var smcmMAPI_E_INSUFFICIENT_MEMORY = 9;
var smcmMAPI_E_LOGIN_FAILURE = 10;
var smcmMAPI_E_USER_ABORT = 11;
var smcmMAPI_E_UNKNOWN = 12;
var smcmMAPI_E_ATTACHMENT_NOT_FOUND = 14;

var L_TEMP_FILE_FAILED = "Failed to create temporary file.";
var L_NO_MAIL_CLIENTS = "There are no compatible mail clients found.";
var L_NO_DEFAULT_MAIL_CLIENT = "There are no default mail client selected.";
var L_MAIL_CLIENT = " mail client\n";
var L_MAIL_CLIENT_UNNAMED = " Mail client\n";
var L_MAIL_NO_LIBRARY = "does not define appropriate library\nfor sending files.";
var L_MAIL_NO_INTERFACE = "does not define appropriate interface\nfor sending files. ";
var L_MAIL_REPORTED_1 = "reported that there was\n\n";
var L_MAIL_REPORTED_2 = "\n\nwhile attaching file to a message.";
var kMailFailures = {
    6: "attachment open failure",
    7: "attachment write failure",
    9: "insuffisient memory",
    10: "login failure",
    11: "user abort",
    14: "attachment not found",
};
var L_MAIL_GENERAL_ERROR = "a general error";

function fnSendByMail()
{
    fnPerformSendByMail(sbmDefault);
}

function fnSelectClientAndSendByMail()
{
    fnPerformSendByMail(sbmSelected);
}

// The file name of a path (after its last "/" or "\") without its extension, and the extension.
function fnSplitMailName(sPath)
{
    var sText = String(sPath);
    var nStart = Math.max(sText.lastIndexOf("/"), sText.lastIndexOf("\\")) + 1;
    var nDot = sText.lastIndexOf(".");
    if (nDot < nStart)
        return { name: sText.substring(nStart), extension: "" };
    return { name: sText.substring(nStart, nDot), extension: sText.substring(nDot + 1) };
}

function fnPerformSendByMail(nMode)
{
    try {
        var oHelper = fnGetHelperObject();
        var nResult;
        if (nMode == sbmDefault) {
            fnUnstickButton("SendByMailButton");
            nResult = oHelper.SetupDefaultMailClient();
            if (nResult != smcmOK) {
                ReportSendByMailError(nResult);
                return;
            }
        } else if (nMode == sbmSelected) {
            try {
                var oPoint = fnScreenPointBelow(fnFrame("ktToolBars"), "SendByMailButton");
                nResult = oHelper.ShowMailClientsMenu(oPoint.x, oPoint.y, "");
            } finally {
                fnUnstickButton("ShowMailClientsButton");
            }
            if (nResult == smcmCancel)
                return;
            if (nResult != smcmOK) {
                ReportSendByMailError(nResult);
                return;
            }
        } else {
            return;
        }
        var oName = fnSplitMailName(gsCurrentPath);
        // A file named ".t-q" alone gives no name: the attachment takes the root folder's.
        if (!fnRemoveWhiteSpaces(oName.name).replace(/^\.+$/, ""))
            oName.name = fnRemoveWhiteSpaces(fnGetDatabaseElement(goBase).getAttribute(cxbiAttName));
        var sTemporary = oHelper.GetTempFilePath(oName.name, oName.extension);
        if (!sTemporary) {
            alert(L_TEMP_FILE_FAILED);
            return;
        }
        if (!fnPerformImportExport(cixSendByMail, sTemporary))
            return;
        // No wait indicator: some clients return only when their message window is closed.
        nResult = oHelper.SendFileToMailClient(sTemporary, oHelper.MailClientName, oHelper.MailClientDLLPath);
        if (nResult != smcmOK && nResult != smcmMAPI_E_USER_ABORT)
            ReportSendByMailError(nResult);
    } catch (e) {
        fnReportCommandError(e);
    }
}

function ReportSendByMailError(nCode)
{
    if (nCode == smcmNoClients) {
        alert(L_NO_MAIL_CLIENTS);
        return;
    }
    if (nCode == smcmNoDefaultClient) {
        alert(L_NO_DEFAULT_MAIL_CLIENT);
        return;
    }
    var sClient = "";
    try {
        sClient = fnGetHelperObject().MailClientName || "";
    } catch (e) {
    }
    var sMessage = sClient ? sClient + L_MAIL_CLIENT : L_MAIL_CLIENT_UNNAMED;
    if (nCode == smcmNoDLL)
        sMessage += L_MAIL_NO_LIBRARY;
    else if (nCode == smcmNoInterface)
        sMessage += L_MAIL_NO_INTERFACE;
    else
        sMessage += L_MAIL_REPORTED_1 + (kMailFailures[nCode] || L_MAIL_GENERAL_ERROR) + L_MAIL_REPORTED_2;
    alert(sMessage);
}
