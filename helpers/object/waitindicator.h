#pragma once

// What a page's window shows while its page waits long for a lock that another program holds:
// the viewer's wait indicator, drawn by the host (the page's script cannot draw while it waits),
// a line that says what is waited for, and Cancel. Cancel, or closing the window, ends the wait.
//
// With TAVRELO_AUTOMATION set nothing is shown: the indicator is logged (kind "wait") and an
// answer {"kind":"wait","answer":"cancel"}, when there is one, cancels the wait; without one the
// wait goes on.

#include "sync/namedlock.h"

#include <QString>

namespace tavrelo::helpers {

class Quillet;

namespace waitindicator {

// Hooks for a wait of the page that `owner` serves; `text` says what is waited for.
tavrelo::sync::WaitHooks hooksFor(Quillet *owner, const QString &text);

// The text for a wait for the lock of a collection file.
QString fileWaitText(const QString &path);

}

} // namespace tavrelo::helpers
