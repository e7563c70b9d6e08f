#pragma once

// The registry entries of registration mean nothing to a Linux browser or desktop, so the same
// registration writes their real counterparts beside them, and unregistration removes exactly
// those files again:
//
// - the native-messaging host manifests that let our browser extension (and only it) talk to
//   clipvane-native-host: Chromium's and Firefox's, for this user, and for every user of the
//   machine where this process may write the browsers' system folders;
// - a desktop entry for Clipvane that opens collection files, the collection file type for
//   shared-mime-info (*.t-q), and our icons in the hicolor theme, for this user;
// - the desktop's databases refreshed where their tools are installed.
//
// A machine-wide registration (Scope::Machine) writes the same files for every user instead: the
// manifests into the browsers' system folders only (a failure there fails it), the desktop entry,
// file type and icons into the data folder of the installation (`share` beside the library's
// `lib`, as configured: /usr/share for /usr/lib/clipvane), and nothing into the caller's home.
//
// Folders: $XDG_CONFIG_HOME (~/.config), $XDG_DATA_HOME (~/.local/share), $HOME/.mozilla; the
// system folders /etc/chromium and /usr/lib/mozilla lie under $TAVRELO_SYSTEM_ROOT when it is
// set. A private registry (TAVRELO_REGISTRY_DIR) belongs to a test: it integrates with the
// desktop only when TAVRELO_SYSTEM_ROOT is set too, so that no test writes into the real one.

#include "automation/hresult.h"

#include <QString>

namespace tavrelo::registration::desktopintegration {

struct Programs {
    QString launcher;   // Clipvane
    QString nativeHost; // clipvane-native-host
    QString library;    // libTavreloHelpers.so, which carries the icons
};

enum class Scope { Caller, Machine };

HRESULT registerDesktop(const Programs &programs, Scope scope = Scope::Caller);
// `library` locates the installation's data folder of a machine-wide registration.
HRESULT unregisterDesktop(const QString &library, Scope scope = Scope::Caller);

// The Exec line of the desktop entry that starts `launcher` on the opened file (the value as it
// is written in the file, with the desktop-entry escapes).
QString execLine(const QString &launcher);

} // namespace tavrelo::registration::desktopintegration
