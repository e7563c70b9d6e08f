// The helper object's identity and lifetime, its site, its events and the host window lookup.

#include "quillet.h"
#include "notificationowner.h"
#include "quilletids.h"
#include "serverstate.h"

#include <QApplication>
#include <QVariant>
#include <QWidget>

#include <new>

namespace tavrelo::helpers {

namespace {

// The dynamic property by which the HTML Application host names its windows, standing in for a
// window class name.
constexpr const char *kWindowClassProperty = "tavreloWindowClass";

QWidget *topLevelWidgetOfClass(const QString &windowClass)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        // Window class names compare without regard to case.
        if (window->property(kWindowClassProperty).toString().compare(windowClass, Qt::CaseInsensitive) == 0)
            return window;
    }
    return nullptr;
}

} // namespace

ComPtr<Quillet> Quillet::create()
{
    return ComPtr<Quillet>::adopt(new (std::nothrow) Quillet);
}

Quillet::Quillet() : m_events(this, DIID__DIQuilletEvents)
{
    serverstate::objectCreated();
    m_notifications = makeNotificationWindow(this);
}

Quillet::~Quillet()
{
    m_notifications.reset();
    m_events.disconnectAll();
    serverstate::objectDestroyed();
}

HRESULT Quillet::SetSite(IUnknown *site)
{
    m_site = ComPtr<IUnknown>(site);
    return S_OK;
}

HRESULT Quillet::GetSite(const IID &iid, void **site)
{
    if (!site)
        return E_POINTER;
    *site = nullptr;
    if (!m_site)
        return E_FAIL;
    return m_site->QueryInterface(iid, site);
}

HRESULT Quillet::FindConnectionPoint(const IID &iid, IConnectionPoint **point)
{
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (iid != DIID__DIQuilletEvents)
        return CONNECT_E_NOCONNECTION;
    m_events.AddRef(); // the point's references are ours
    *point = &m_events;
    return S_OK;
}

void Quillet::raiseEvent(DISPID event)
{
    // A sink may drop the last reference to us while it handles the event.
    const ComPtr<IDispatch> keepAlive(this);
    m_events.raise(event);
}

HRESULT Quillet::findHostWindow(const QString &windowClass, HWND *window)
{
    if (!window)
        return E_POINTER;
    *window = nullptr;
    HWND found = nullptr;
    ComPtr<IOleInPlaceSite> site;
    if (m_site && SUCCEEDED(m_site.as(IID_IOleInPlaceSite, &site)) && site && FAILED(site->GetWindow(&found)))
        found = nullptr;
    if (!found && !windowClass.isEmpty())
        found = topLevelWidgetOfClass(windowClass);
    if (!found)
        return E_FAIL;
    while (QWidget *parent = found->parentWidget())
        found = parent;
    *window = found;
    return S_OK;
}

} // namespace tavrelo::helpers
