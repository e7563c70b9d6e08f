// The messages a helper object sends to other windows, and the launcher's file-open request.

#include "instancemessaging.h"

#include "notificationwindow.h"
#include "records.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QWidget>

namespace tavrelo::messaging {

void sendChangeNotification(const QString &fileName, std::int32_t folderId, const ipc::EndpointId &own,
                            const sync::WaitHooks &hooks)
{
    const QByteArray record = changeRecord(fileName, folderId);
    const NotificationMutex mutex(hooks);
    if (!mutex.held())
        return;
    const QList<ipc::EndpointId> windows = ipc::findEndpoints(kNotificationClass);
    for (const ipc::EndpointId &window : windows) {
        if (window != own) // each answer, even a refusal or a time-out, is left at that
            ipc::sendRecord(window, own, 0, record, kSendTimeoutMs);
    }
}

void closeSplash()
{
    const QList<ipc::EndpointId> splashes = ipc::findEndpoints(kSplashClass, QByteArray(kSplashTitle));
    if (!splashes.isEmpty())
        ipc::postMessage(splashes.first(), kSplashCloseMessage, 0, 0);
}

void postWindowMessage(HWND window, std::uint32_t message, std::uint32_t wParam, std::int32_t lParam)
{
    QCoreApplication::postEvent(window, new WindowMessageEvent(message, wParam, lParam));
}

void causeFind()
{
    // Ctrl down, F down, F up, Ctrl up. Key events that did not come from the window system still
    // reach shortcuts.
    QObject *focus = QGuiApplication::focusObject();
    if (!focus)
        return;
    QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier));
    QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier, QStringLiteral("f")));
    QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyRelease, Qt::Key_F, Qt::ControlModifier, QStringLiteral("f")));
    QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier));
}

FileOpenOutcome requestFileOpen(const QByteArray &text)
{
    FileOpenOutcome outcome;
    const NotificationMutex mutex;
    if (!mutex.held())
        return outcome;
    ipc::EndpointId viewer;
    const QList<ipc::EndpointId> windows = ipc::findEndpoints(kNotificationClass);
    for (const ipc::EndpointId &window : windows) {
        if (ipc::windowProperty(window, kMainWindowProperty) == 1) {
            viewer = window;
            break;
        }
    }
    if (viewer.isEmpty())
        return outcome;
    outcome.found = true;
    // The desktop's token for this start lets the viewer come to the front on Wayland.
    if (const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN"); !token.isEmpty() && token.size() <= kMaxTokenBytes)
        ipc::sendRecord(viewer, QString(), kActivationTag, token, kSendTimeoutMs);
    outcome.delivered = ipc::sendRecord(viewer, QString(), 0, openRecord(text), kSendTimeoutMs) ==
                        ipc::SendResult::Accepted;
    return outcome;
}

} // namespace tavrelo::messaging
