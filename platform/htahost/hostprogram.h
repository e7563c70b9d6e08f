#pragma once

// The host's run once its command line has been read: the page's window and profile, a single
// instance when the application asks for one, and the end of the session.

#include "hostwindow.h"
#include "resaddress.h"

#include <QString>

#include <functional>

class QApplication;
class QObject;
class QWebEngineProfile;

namespace tavrelo::htahost {

// A host started for a dialog alone ends with the dialog's returnValue when it is one of these,
// else with kDialogCancelled (closed without one, or by its close box).
inline constexpr int kDialogStored = 0, kDialogCancelled = 1, kDialogFailed = 2;

// How long the windows' unload handlers may take at the end of the session.
inline constexpr int kSessionGraceMs = 10000;

// Runs `page` as `options` describe (its address, library, command line, and for a dialog its
// features) until its windows have closed, and returns the program's exit status. The page's
// attributes are read from its library here; `screenshot`, when not empty, is where a picture
// of the window goes once the page has loaded (the window then closes).
int runHost(int &argc, char **argv, const ResAddress &page, WindowOptions options, const QString &screenshot);

// Stands by for the browser's next capture until it has opened one dialog and that has closed,
// or until nobody keeps it ready (ipc/capturedialog.h); returns the program's exit status.
int runCaptureStandby(int &argc, char **argv);

// The profile every window of a host shares: off the record, serving res://.
QWebEngineProfile *makeProfile(QObject *parent);

// Calls `ended` at the end of the session (SIGTERM, SIGHUP, SIGINT); without it the windows
// close as by their close boxes.
void watchSessionEnd(QApplication &app, std::function<void()> ended = {});

} // namespace tavrelo::htahost
