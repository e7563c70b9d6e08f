#include "pagesite.h"

namespace tavrelo::htahost {

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

HRESULT HostDocument::get_locationString(QString *url)
{
    if (!url)
        return E_POINTER;
    *url = m_url;
    return S_OK;
}

} // namespace tavrelo::htahost
