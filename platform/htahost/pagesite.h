#pragma once

// What the host hands to the objects of a page: the site, through which an object finds the
// window it lives in, and documents passed to members as arguments.

#include "comobject.h"

#include "automation/olewindow.h"

#include <QPointer>
#include <QWidget>

class PageSite final : public ComObject<IOleInPlaceSite> {
public:
    explicit PageSite(QWidget *window) : m_window(window) {}

    HRESULT QueryInterface(const IID &iid, void **object) override;
    HRESULT GetWindow(HWND *window) override;

private:
    QPointer<QWidget> m_window; // the site outlives its window only while objects still hold it
};

// A page's document as an argument: it knows its address.
class HostDocument final : public ComObject<IHTMLDocument2> {
public:
    explicit HostDocument(QString url) : m_url(std::move(url)) {}

    HRESULT QueryInterface(const IID &iid, void **object) override;
    HRESULT GetTypeInfoCount(std::uint32_t *count) override;
    HRESULT GetTypeInfo(std::uint32_t, LCID, std::shared_ptr<const tavrelo::automation::TypeInfo> *) override;
    HRESULT GetIDsOfNames(const IID &, const QStringList &names, LCID, DISPID *ids) override;
    HRESULT Invoke(DISPID, const IID &, LCID, std::uint16_t, DispParams &, Variant *, ExcepInfo *,
                   std::uint32_t *) override;
    HRESULT get_locationString(QString *url) override;

private:
    QString m_url;
};
