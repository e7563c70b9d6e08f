#pragma once

// The name by which the desktop knows every window of ours: the desktop entry
// "tavrelo-clipvane.desktop" that registration writes, Wayland's app id and the class of X11's
// WM_CLASS (and its StartupWMClass). Docks and task bars match windows to the entry by it, so the
// viewer, its dialogs and the splash show the program's name and icon and group together.

#include <QCoreApplication>
#include <QGuiApplication>

namespace tavrelo::shell {

inline constexpr char kDesktopIdentity[] = "tavrelo-clipvane";

// Call once the application object exists and before any window is made: Wayland takes the app
// id from the desktop file name, X11 the window class from the application name when each window
// is created. Nothing of ours is stored under the application name (the host's web profile keeps
// nothing on disk), so the name is free to be the desktop's.
inline void applyDesktopIdentity()
{
    QCoreApplication::setApplicationName(QLatin1StringView(kDesktopIdentity));
    QGuiApplication::setDesktopFileName(QLatin1StringView(kDesktopIdentity));
}

}
