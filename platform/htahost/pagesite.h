#pragma once

// What the host hands to the objects of a page: the site, through which an object finds the
// window it lives in, and documents passed to members as arguments.

#include "automation/comobject.h"

#include "automation/olewindow.h"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace tavrelo::htahost {

class PageSite final
    : public ComObject<ComInterface<IScriptTurnSite, IID_IOleWindow, IID_IOleInPlaceSite, IID_IScriptTurnSite>> {
public:
    // `inCall` tells whether the page's script waits for a call to finish.
    PageSite(QWidget *window, std::function<bool()> inCall) : m_window(window), m_inCall(std::move(inCall)) {}

    HRESULT GetWindow(HWND *window) override;
    HRESULT CanRunHandlersNow() override;
    // The page is gone: from now on handlers never run.
    void detach() { m_inCall = [] { return true; }; }

private:
    QPointer<QWidget> m_window; // the site outlives its window only while objects still hold it
    std::function<bool()> m_inCall;
};

// An automation object without members of its own: what script can pass but not call.
template <typename Interface, const IID &...Iids>
class MemberlessObject : public ComObject<ComInterface<Interface, IID_IDispatch, Iids...>> {
public:
    HRESULT GetTypeInfoCount(std::uint32_t *count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t, LCID, std::shared_ptr<const tavrelo::automation::TypeInfo> *) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(const IID &, const QStringList &names, LCID, DISPID *ids) override
    {
        for (qsizetype i = 0; i < names.size(); ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID, const IID &, LCID, std::uint16_t, DispParams &, Variant *, ExcepInfo *,
                   std::uint32_t *) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }
};

// A page's document as an argument: it knows its address.
class HostDocument final : public MemberlessObject<IHTMLDocument2, IID_IHTMLDocument2> {
public:
    explicit HostDocument(QString url) : m_url(std::move(url)) {}

    HRESULT get_locationString(QString *url) override;

private:
    QString m_url;
};

// Any other script object passed as an argument (a plain object, an XML document, a function):
// a member sees an object, and finds out by querying that it is none of the kinds it knows.
class ScriptObject final : public MemberlessObject<IDispatch> {};

} // namespace tavrelo::htahost
