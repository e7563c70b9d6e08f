#include "schemehandler.h"

#include "bridge.h"
#include "jobreply.h"
#include "printing.h"
#include "resaddress.h"

#include "automation/module.h"

#include <QLoggingCategory>
#include <QMimeDatabase>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace tavrelo::htahost {

Q_LOGGING_CATEGORY(lcScheme, "tavrelo.htahost.scheme")

namespace {

QByteArray mimeTypeOf(const QString &name)
{
    const QString suffix = name.section(u'.', -1).toLower();
    if (suffix == u"htm" || suffix == u"html" || suffix == u"hta")
        return QByteArrayLiteral("text/html;charset=utf-8");
    if (suffix == u"js" || suffix == u"htc")
        return QByteArrayLiteral("text/javascript;charset=utf-8");
    if (suffix == u"css")
        return QByteArrayLiteral("text/css;charset=utf-8");
    if (suffix == u"xsl" || suffix == u"xml")
        return QByteArrayLiteral("text/xml");
    static const QMimeDatabase types;
    return types.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name().toLatin1();
}

bool isPage(const QString &name)
{
    const QString suffix = name.section(u'.', -1).toLower();
    return suffix == u"htm" || suffix == u"html" || suffix == u"hta";
}

// A page that was asked for but is not there gets a page that says so; other resources fail.
void notFound(QWebEngineUrlRequestJob *job, const QString &resource, const QString &library, const QString &reason)
{
    if (!isPage(resource)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    const QString html =
        QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>404 Not Found</title></head>"
                       "<body style=\"font-family: sans-serif\"><h1>404 Not Found</h1><p>%1</p></body></html>")
            .arg(reason.arg(resource.toHtmlEscaped(), library.toHtmlEscaped()));
    replyBytes(job, QByteArrayLiteral("text/html;charset=utf-8"), html.toUtf8());
}

}

void SchemeHandler::registerScheme()
{
    QWebEngineUrlScheme scheme(QByteArrayLiteral("res"));
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // Local and secure: its pages are one origin, may use each other's frames, and reach
    // nothing outside the scheme.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme |
                    QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void SchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    const QUrl url = job->requestUrl();
    const QString path = url.path(QUrl::FullyDecoded);
    if (path.startsWith(kBridgePath)) {
        handleBridgeRequest(job);
        return;
    }
    if (path.startsWith(kPrintPath)) {
        const QByteArray document = Printing::document(path.mid(kPrintPath.size()));
        if (document.isEmpty())
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        else
            replyBytes(job, QByteArrayLiteral("text/html;charset=utf-8"), document);
        return;
    }
    const auto address = parseResAddress(url);
    if (!address) {
        notFound(job, url.fileName(), path, QStringLiteral("The address names no library file: %2"));
        return;
    }
    QByteArray data;
    const HRESULT hr = tavrelo::automation::loadModuleResource(address->library, QStringLiteral("HTML"),
                                                               address->resource, &data);
    if (FAILED(hr)) {
        qCInfo(lcScheme) << "Not found:" << address->resource << "in" << address->library;
        notFound(job, address->resource, address->library,
                 hr == TYPE_E_ELEMENTNOTFOUND ? QStringLiteral("There is no resource %1 in %2.")
                                              : QStringLiteral("%2 cannot be read for its resource %1."));
        return;
    }
    replyBytes(job, mimeTypeOf(address->resource), data);
}

} // namespace tavrelo::htahost
