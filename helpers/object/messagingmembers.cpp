// The helper object's members for instance messaging (helpers/messaging/), and the object as the
// owner of its notification window.

#include "notificationowner.h"
#include "quillet.h"
#include "quilletids.h"
#include "waitindicator.h"

#include "messaging/instancemessaging.h"

namespace tavrelo::helpers {

namespace messaging = tavrelo::messaging;

namespace {

class QuilletNotificationOwner final : public messaging::NotificationOwner {
public:
    explicit QuilletNotificationOwner(Quillet *object) : m_object(object) {}

    ComPtr<IUnknown> keepAlive() override { return ComPtr<IUnknown>(static_cast<IDispatch *>(m_object)); }
    HRESULT site(const IID &iid, void **site) override { return m_object->GetSite(iid, site); }
    HWND hostWindow() override
    {
        HWND window = nullptr;
        return SUCCEEDED(m_object->findHostWindow(QString(), &window)) ? window : nullptr;
    }
    void raiseEvent(Event event) override
    {
        m_object->raiseEvent(event == Event::FileChanged       ? DISPID_ONFILECHANGED
                             : event == Event::FileOpenRequest ? DISPID_ONFILEOPENREQUEST
                                                               : DISPID_ONBUSY);
    }

private:
    Quillet *m_object; // the window lives no longer than the object
};

} // namespace

std::unique_ptr<messaging::NotificationWindow> makeNotificationWindow(Quillet *object)
{
    return std::make_unique<messaging::NotificationWindow>(std::make_unique<QuilletNotificationOwner>(object));
}

HRESULT Quillet::DoSendChangeNotification(const QString &fileName, int folderId)
{
    messaging::sendChangeNotification(
        fileName, folderId, m_notifications->id(),
        waitindicator::hooksFor(this, QStringLiteral("Waiting to tell the other windows of the change.")));
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
    messaging::closeSplash();
    m_notifications->markAsViewer();
    return S_OK;
}

HRESULT Quillet::DoPostMessage(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam,
                               const QString &windowClass)
{
    HWND window = nullptr;
    if (SUCCEEDED(findHostWindow(windowClass, &window)) && window)
        messaging::postWindowMessage(window, message, wParam, lParam);
    return S_OK;
}

HRESULT Quillet::DoCauseFind()
{
    messaging::causeFind();
    return S_OK;
}

} // namespace tavrelo::helpers
