#pragma once

// The page side of an embedded object: the site a page gives its objects, through which an
// object finds the window it lives in, and the document interface that tells a page's address.

#include "dispatch.h"

#include <QEvent>

#include <cstdint>

class QWidget;

// A window of the host process: the top-level widget that shows a page.
using HWND = QWidget *;

class IOleWindow : public IUnknown {
public:
    // E_FAIL and a null *window when the site has no window (any more).
    virtual HRESULT GetWindow(HWND *window) = 0;

protected:
    ~IOleWindow() = default;
};

class IOleInPlaceSite : public IOleWindow {
protected:
    ~IOleInPlaceSite() = default;
};

// The site of a page whose script runs in turns, as a browser engine's does: event handlers run
// only while the page is not waiting for a call to an object. An object whose event hands data
// to the handler through members it holds only while the event runs asks before raising it.
class IScriptTurnSite : public IOleInPlaceSite {
public:
    // S_OK when a handler would run now, before the raise returns; S_FALSE when the page waits
    // for a call to finish and the handler would run only after it.
    virtual HRESULT CanRunHandlersNow() = 0;

protected:
    ~IScriptTurnSite() = default;
};

inline const IID IID_IScriptTurnSite{0x3417657e, 0x2b96, 0x4563, 0xb9, 0x4a, 0x80, 0x7a, 0x3e, 0x08, 0x0d, 0x1a};

class IObjectWithSite : public IUnknown {
public:
    // The object keeps a reference to the site until it is given another one or null.
    virtual HRESULT SetSite(IUnknown *site) = 0;
    virtual HRESULT GetSite(const IID &iid, void **site) = 0;

protected:
    ~IObjectWithSite() = default;
};

// A page's document, as script hands it to a member (an IDispatch* argument).
class IHTMLDocument2 : public IDispatch {
public:
    // The document's address as text.
    virtual HRESULT get_locationString(QString *url) = 0;

protected:
    ~IHTMLDocument2() = default;
};

// A window message posted to a window of the host (as DoPostMessage does). The window acts on the
// messages it knows (WM_CLOSE) and ignores the others.
class WindowMessageEvent final : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x0400);

    WindowMessageEvent(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam)
        : QEvent(kType), m_message(message), m_wParam(wParam), m_lParam(lParam)
    {
    }
    std::uint32_t message() const { return m_message; }
    std::uint32_t wParam() const { return m_wParam; }
    std::int32_t lParam() const { return m_lParam; }

private:
    std::uint32_t m_message, m_wParam;
    std::int32_t m_lParam;
};

inline constexpr std::uint32_t WM_CLOSE = 0x0010;
