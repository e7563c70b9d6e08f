#pragma once

// The messages a helper object sends: change notifications to the other pages' notification
// windows, the close message to the launcher's splash, window messages and the find chord within
// this process, and the launcher's file-open request to the running viewer.

#include "automation/olewindow.h"
#include "ipc/endpoint.h"
#include "sync/namedlock.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace tavrelo::messaging {

// Tells every notification window but `own` of a change to `fileName`, under the notification
// mutex, which is waited for with `hooks`. A cancelled wait sends nothing: the other pages see
// the new stamp at their next change.
void sendChangeNotification(const QString &fileName, std::int32_t folderId, const ipc::EndpointId &own,
                            const sync::WaitHooks &hooks);

// Asks the launcher's splash window, when one is shown, to close.
void closeSplash();

// Posts the window message to `window` (its event loop delivers it).
void postWindowMessage(HWND window, std::uint32_t message, std::uint32_t wParam, std::int32_t lParam);

// Ctrl+F as a keyboard would give it, to whatever has the focus.
void causeFind();

struct FileOpenOutcome {
    bool found = false;     // a viewer's notification window exists
    bool delivered = false; // and it accepted the request
};

// Hands `text` (the launcher's argument string) to the running viewer as a file-open request.
FileOpenOutcome requestFileOpen(const QByteArray &text);

} // namespace tavrelo::messaging
