#pragma once

// The host's run once its command line has been read: the page's window and profile, a single
// instance when the application asks for one, and the end of the session.

#include "hostwindow.h"
#include "resaddress.h"

#include <QString>

namespace tavrelo::htahost {

// A host started for a dialog alone ends with the dialog's returnValue when it is one of these,
// else with kDialogCancelled (closed without one, or by its close box).
inline constexpr int kDialogStored = 0, kDialogCancelled = 1, kDialogFailed = 2;

// Runs `page` as `options` describe (its address, library, command line, and for a dialog its
// features) until its windows have closed, and returns the program's exit status. The page's
// attributes are read from its library here; `screenshot`, when not empty, is where a picture
// of the window goes once the page has loaded (the window then closes).
int runHost(int &argc, char **argv, const ResAddress &page, WindowOptions options, const QString &screenshot);

} // namespace tavrelo::htahost
