// The helper object's members for instance messaging, and the library's two exports for the
// launcher.

#include "notificationwindow.h"
#include "records.h"

#include "object/exports.h"
#include "object/quillet.h"

#include "ipc/endpoint.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QWidget>

using namespace messaging;

HRESULT Quillet::DoSendChangeNotification(const QString &fileName, int folderId)
{
    const QByteArray record = changeRecord(fileName, folderId);
    // Cancelled, nothing is sent: the other pages see the new stamp at their next change.
    const NotificationMutex mutex(this);
    if (!mutex.held())
        return S_OK;
    const tavrelo::ipc::EndpointId own = m_notifications->id();
    const QList<tavrelo::ipc::EndpointId> windows = tavrelo::ipc::findEndpoints(kNotificationClass);
    for (const tavrelo::ipc::EndpointId &window : windows) {
        if (window != own) // each answer, even a refusal or a time-out, is left at that
            tavrelo::ipc::sendRecord(window, own, 0, record, kSendTimeoutMs);
    }
    return S_OK;
}

HRESULT Quillet::get_FileChangeFilePath(QString *path)
{
    if (!path)
        return E_POINTER;
    *path = QString::fromUtf8(m_notifications->changePath());
    return S_OK;
}

HRESULT Quillet::get_FileChangeFolderID(std::int32_t *folderId)
{
    if (!folderId)
        return E_POINTER;
    *folderId = m_notifications->changeFolderId();
    return S_OK;
}

HRESULT Quillet::get_FileOpenFilePath(QString *path)
{
    if (!path)
        return E_POINTER;
    *path = QString::fromUtf8(m_notifications->openPath());
    return S_OK;
}

HRESULT Quillet::DoBroadcastCloseSplash()
{
    const QList<tavrelo::ipc::EndpointId> splashes = tavrelo::ipc::findEndpoints(kSplashClass, QByteArray(kSplashTitle));
    if (!splashes.isEmpty())
        tavrelo::ipc::postMessage(splashes.first(), kSplashCloseMessage, 0, 0);
    m_notifications->markAsViewer();
    return S_OK;
}

HRESULT Quillet::DoPostMessage(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam,
                               const QString &windowClass)
{
    HWND window = nullptr;
    if (SUCCEEDED(findHostWindow(windowClass, &window)) && window)
        QCoreApplication::postEvent(window, new WindowMessageEvent(message, wParam, lParam));
    return S_OK;
}

HRESULT Quillet::DoCauseFind()
{
    // The chord as a keyboard would give it, to whatever has the focus: Ctrl down, F down, F up,
    // Ctrl up. Key events that did not come from the window system still reach shortcuts.
    QObject *focus = QGuiApplication::focusObject();
    if (!focus)
        return S_OK;
    QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier));
    QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier, QStringLiteral("f")));
    QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyRelease, Qt::Key_F, Qt::ControlModifier, QStringLiteral("f")));
    QCoreApplication::postEvent(focus, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier));
    return S_OK;
}

int QuilletHelpersEmptyFunction()
{
    return 0;
}

int QuilletHelpersRequestFileOpen(const char *text, std::int32_t *delivered, std::int32_t *found)
{
    const NotificationMutex mutex;
    if (!mutex.held())
        return 0;
    tavrelo::ipc::EndpointId viewer;
    const QList<tavrelo::ipc::EndpointId> windows = tavrelo::ipc::findEndpoints(kNotificationClass);
    for (const tavrelo::ipc::EndpointId &window : windows) {
        if (tavrelo::ipc::windowProperty(window, kMainWindowProperty) == 1) {
            viewer = window;
            break;
        }
    }
    if (viewer.isEmpty())
        return 0;
    if (found)
        *found = 1;
    const QByteArray record = openRecord(QByteArray(text ? text : ""));
    if (tavrelo::ipc::sendRecord(viewer, QString(), 0, record, kSendTimeoutMs) == tavrelo::ipc::SendResult::Accepted &&
        delivered)
        *delivered = 1;
    return 0;
}
