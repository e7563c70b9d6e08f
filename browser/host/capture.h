#pragma once

// What the native host starts, as registration recorded it: the capture page is the address of
// the browser's context-menu entry, run by the program registered for HTML Applications as a
// dialog; the toolbar button starts the program its entry names.

#include <QString>
#include <QStringList>

namespace tavrelo::nativehost {

// A program and its arguments, or why there is none.
struct Command {
    QString program;
    QStringList arguments;
    QString error;
};

// The capture page registration recorded (a res: address), or why there is none.
struct CapturePage {
    QString address;
    QString error;
};
CapturePage capturePage();

// The capture dialog for the page whose menu arguments are in `menuArgumentsFile`.
Command captureDialogCommand(const QString &menuArgumentsFile);

// The launcher Clipvane, without arguments.
Command launcherCommand();

// How the capture dialog ended, from its process's end. The dialog's exit status says it:
// 0 the fragment was stored, 1 the user cancelled, 2 (or anything else) it failed.
struct DialogOutcome {
    bool ok = false;
    QString outcome; // "stored" or "cancelled" when ok
    QString error;   // otherwise
};
DialogOutcome dialogOutcome(bool crashed, int exitStatus, const QString &lastErrorLine);

} // namespace tavrelo::nativehost
