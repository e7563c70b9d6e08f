#pragma once

// A page's site as a test hands it to the helper object.

#include "automation/comobject.h"
#include "automation/olewindow.h"

// A page's site, on the test's stack. With `inPlace` false it answers only IUnknown, as a site
// without a window does.
class TestSite final : public StaticComObject<ComInterface<IOleInPlaceSite, IID_IOleWindow, IID_IOleInPlaceSite>> {
public:
    TestSite(bool inPlace, HWND window) : m_inPlace(inPlace), m_window(window) {}

    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        if (!m_inPlace && iid != IID_IUnknown) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return StaticComObject::QueryInterface(iid, object);
    }
    HRESULT GetWindow(HWND *window) override
    {
        *window = m_window;
        return m_window ? S_OK : E_FAIL;
    }

private:
    bool m_inPlace;
    HWND m_window;
};
