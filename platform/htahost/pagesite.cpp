#include "pagesite.h"

namespace {

template <typename T>
HRESULT hand(T *self, void **object)
{
    self->AddRef();
    *object = self;
    return S_OK;
}

}

HRESULT PageSite::QueryInterface(const IID &iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleWindow || iid == IID_IOleInPlaceSite || iid == IID_IScriptTurnSite)
        return hand(static_cast<IScriptTurnSite *>(this), object);
    return E_NOINTERFACE;
}

HRESULT PageSite::CanRunHandlersNow()
{
    return m_inCall() ? S_FALSE : S_OK;
}

HRESULT PageSite::GetWindow(HWND *window)
{
    if (!window)
        return E_POINTER;
    *window = m_window.data();
    return *window ? S_OK : E_FAIL;
}

HRESULT HostDocument::QueryInterface(const IID &iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IHTMLDocument2)
        return hand(static_cast<IHTMLDocument2 *>(this), object);
    return E_NOINTERFACE;
}

HRESULT HostDocument::get_locationString(QString *url)
{
    if (!url)
        return E_POINTER;
    *url = m_url;
    return S_OK;
}

HRESULT ScriptObject::QueryInterface(const IID &iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch)
        return hand(static_cast<IDispatch *>(this), object);
    return E_NOINTERFACE;
}
