#pragma once

// The page side of an embedded object: the site a page gives its objects, through which an
// object finds the window it lives in, and the document interface that tells a page's address.

#include "dispatch.h"

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
