#pragma once

// A page's site as a test hands it to the helper object.

#include "automation/olewindow.h"

#include <atomic>

// A page's site. With `inPlace` false it answers only IUnknown, as a site without a window does.
class TestSite final : public IOleInPlaceSite {
public:
    TestSite(bool inPlace, HWND window) : m_inPlace(inPlace), m_window(window) {}

    HRESULT QueryInterface(const IID &iid, void **object) override
    {
        if (iid == IID_IUnknown || (m_inPlace && (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite))) {
            *object = static_cast<IOleInPlaceSite *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override { return --m_references; } // lives on the test's stack
    HRESULT GetWindow(HWND *window) override
    {
        *window = m_window;
        return m_window ? S_OK : E_FAIL;
    }
    ULONG references() const { return m_references; }

private:
    bool m_inPlace;
    HWND m_window;
    std::atomic<ULONG> m_references{1};
};
