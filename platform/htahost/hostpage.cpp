#include "hostpage.h"

#include "hostwindow.h"
#include "resaddress.h"
#include "userrequests.h"

#include "automation/classes.h"
#include "testsurface/uirequests.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QTimer>
#include <QUuid>
#include <QWebChannel>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestInterceptor>

namespace tavrelo::htahost {

Q_LOGGING_CATEGORY(lcConsole, "js")
Q_LOGGING_CATEGORY(lcPage, "tavrelo.htahost.page")

namespace {

QHash<QString, HostPage *> &pagesByToken()
{
    static QHash<QString, HostPage *> pages;
    return pages;
}

// The web channel's page side, the bridge, then the script classes built on it.
QString bridgeScript()
{
    QString source;
    for (const char *name : {":/qtwebchannel/qwebchannel.js", ":/htahost/htabridge.js", ":/htahost/xmldom.js"}) {
        QFile file{QString::fromLatin1(name)};
        if (!file.open(QIODevice::ReadOnly))
            qFatal("The host's page script %s is missing from the program.", name);
        source += QString::fromUtf8(file.readAll()) + u'\n';
    }
    return source;
}

bool isLocalAddress(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == u"res" || scheme == u"data" || scheme == u"blob" || scheme == u"about";
}

}

bool isTrustedLibrary(const QString &path)
{
    struct Verdict {
        bool trusted;
        QDeadlineTimer expires;
    };
    static QHash<QString, Verdict> verdicts;
    const auto found = verdicts.constFind(path);
    if (found != verdicts.cend() && !found->expires.hasExpired())
        return found->trusted;
    const bool trusted = tavrelo::automation::isRegisteredServer(path);
    verdicts.insert(path, {trusted, QDeadlineTimer(2000)});
    return trusted;
}

// Sees every request of the page: nothing from the network, bridge calls only from a bridged
// page and stamped with its token, and in a bridged page resources only of registered libraries.
class HostPage::RequestGuard final : public QWebEngineUrlRequestInterceptor {
public:
    RequestGuard(QString token, bool bridged) : m_token(std::move(token)), m_bridged(bridged) {}

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QUrl url = info.requestUrl();
        if (!isLocalAddress(url)) {
            qCInfo(lcPage) << "Blocked" << url.toString(QUrl::RemoveQuery);
            info.block(true);
            return;
        }
        if (url.scheme() != u"res")
            return;
        const QString path = url.path(QUrl::FullyDecoded);
        if (path.startsWith(kBridgePath)) {
            guardBridge(info, url, path);
            return;
        }
        if (path.startsWith(kPrintPath)) {
            info.block(true); // only the host's print views read these
            return;
        }
        if (m_bridged) {
            const auto address = parseResAddress(url);
            if (address && !isTrustedLibrary(address->library)) {
                qCWarning(lcPage) << "Blocked a resource of an unregistered library:" << address->library;
                info.block(true);
            }
        }
    }

private:
    void guardBridge(QWebEngineUrlRequestInfo &info, const QUrl &url, const QString &path)
    {
        if (!m_bridged || info.initiator().scheme() != u"res") {
            info.block(true);
            return;
        }
        const QString rest = path.mid(kBridgePath.size());
        if (rest.startsWith(u"t-")) { // already stamped: only with this page's own token
            if (!rest.startsWith(m_token + u'/'))
                info.block(true);
            return;
        }
        QUrl stamped = url;
        stamped.setPath(kBridgePath + m_token + u'/' + rest);
        info.redirect(stamped);
    }

    QString m_token;
    bool m_bridged;
};

// A page asked for a new window: its first address opens outside the host, and it goes.
class LinkCatcher final : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
    {
        if (isOutsideAddress(url))
            openOutside(url);
        deleteLater();
        return false;
    }
};

HostPage::HostPage(QWebEngineProfile *profile, HostWindow *window, bool bridged)
    : QWebEnginePage(profile, window)
    , m_window(window)
    , m_bridged(bridged)
    , m_token(QStringLiteral("t-") + QUuid::createUuid().toString(QUuid::Id128))
    , m_guard(std::make_unique<RequestGuard>(m_token, bridged))
    , m_site(makeComObject<PageSite>(window, [this] { return m_objects->inCall(); }))
    , m_objects(std::make_unique<ObjectTable>(m_site.get()))
    , m_bulk(new BulkChannel(this))
{
    setUrlRequestInterceptor(m_guard.get());
    pagesByToken().insert(m_token, this);
    if (bridged) {
        QWebEngineScript script;
        script.setName(QStringLiteral("tavrelo-hta"));
        script.setSourceCode(bridgeScript());
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(QWebEngineScript::MainWorld);
        script.setRunsOnSubFrames(true);
        scripts().insert(script);
        auto *channel = new QWebChannel(this);
        channel->registerObject(QStringLiteral("tavreloBulk"), m_bulk);
        setWebChannel(channel, QWebEngineScript::MainWorld);
    }
    connect(this, &QWebEnginePage::renderProcessTerminated, this, [this] { m_objects->releaseAll(); });
    // A page without the bridge (outside the application, or its library not registered) closes
    // its window through the engine's own window.close().
    connect(this, &QWebEnginePage::windowCloseRequested, this, [this] {
        if (m_window)
            QTimer::singleShot(0, m_window, &HostWindow::requestClose);
    });
}

HostPage::~HostPage()
{
    m_site->detach(); // objects may hold the site longer than the page lives
    pagesByToken().remove(m_token);
    m_objects->releaseAll();
}

HostPage *HostPage::byToken(const QString &token) { return pagesByToken().value(token); }

void HostPage::watchFile(const QString &path)
{
    if (!m_fileWatch)
        m_fileWatch = std::make_unique<FileWatch>([this](const QString &touched) {
            // The path goes into the script as a JSON string, never as script text of its own.
            const QByteArray quoted = QJsonDocument(QJsonArray{touched}).toJson(QJsonDocument::Compact);
            runJavaScript(QStringLiteral("window.__tavreloHost && window.__tavreloHost.fileTouched(...%1)").arg(QString::fromUtf8(quoted)));
        });
    m_fileWatch->watch(path);
}

QString HostPage::holdRead(std::unique_ptr<QIODevice> read)
{
    constexpr size_t kHeld = 2; // a page takes each read at once; older ones were abandoned
    while (m_heldReads.size() >= kHeld)
        m_heldReads.erase(m_heldReads.begin());
    const QString name = QUuid::createUuid().toString(QUuid::Id128);
    m_heldReads.emplace_back(name, std::move(read));
    return name;
}

std::unique_ptr<QIODevice> HostPage::takeRead(const QString &name)
{
    const auto held = std::find_if(m_heldReads.begin(), m_heldReads.end(), [&name](const auto &read) { return read.first == name; });
    if (held == m_heldReads.end())
        return nullptr;
    std::unique_ptr<QIODevice> read = std::move(held->second);
    m_heldReads.erase(held);
    return read;
}

bool HostPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    const QString scheme = url.scheme();
    if (scheme == u"res") {
        const auto address = parseResAddress(url);
        if (m_bridged && address && !isTrustedLibrary(address->library)) {
            qCWarning(lcPage) << "Refused a page of an unregistered library:" << url.toString();
            return false;
        }
        return true;
    }
    // Frames start empty; so does a dialog window kept ready (HostWindow::makeSpare loads it).
    if (scheme == u"about" && (!isMainFrame || (type == NavigationTypeTyped && url == QUrl(QStringLiteral("about:blank")))))
        return true;
    if (isOutsideAddress(url))
        openOutside(url);
    else
        qCWarning(lcPage) << "Refused to open" << url.toString(QUrl::RemoveQuery);
    return false;
}

QWebEnginePage *HostPage::createWindow(WebWindowType)
{
    return new LinkCatcher(profile(), this);
}

void HostPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int line,
                                        const QString &source)
{
    // A file parsed in its sandboxed frame refuses the host's own script, as it should: that is
    // no news.
    if (QUrl(source).path().endsWith(u"/file.document") && message.startsWith(u"Blocked script execution"))
        return;
    const QString text = QStringLiteral("%1:%2: %3").arg(QUrl(source).fileName()).arg(line).arg(message);
    if (level == ErrorMessageLevel) {
        m_lastConsoleError = message.left(500);
        qCWarning(lcConsole).noquote() << text;
    } else
        qCInfo(lcConsole).noquote() << text;
}

// Pages without the bridge use the engine's own boxes; they are still logged and scripted.
void HostPage::javaScriptAlert(const QUrl &origin, const QString &message)
{
    if (!tavrelo::testsurface::uiIsScripted()) {
        QWebEnginePage::javaScriptAlert(origin, message);
        return;
    }
    askUser(m_window, m_window->caption(), message, false, [](bool) {});
}

bool HostPage::javaScriptConfirm(const QUrl &origin, const QString &message)
{
    if (!tavrelo::testsurface::uiIsScripted())
        return QWebEnginePage::javaScriptConfirm(origin, message);
    bool result = false;
    askUser(m_window, m_window->caption(), message, true, [&result](bool ok) { result = ok; });
    return result;
}

} // namespace tavrelo::htahost
