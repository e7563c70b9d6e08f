#pragma once

// The page of a host window. A page served from a library registered for a class gets the
// bridge: the HTML Application script in every frame, its objects and the file service. Every
// page loads only res: addresses; other addresses open outside the host.

#include "bulkchannel.h"
#include "filewatch.h"
#include "objecttable.h"
#include "pagesite.h"

#include <QHash>
#include <QIODevice>
#include <QPointer>
#include <QWebEnginePage>

#include <memory>
#include <optional>
#include <vector>

namespace tavrelo::htahost {

class HostWindow;

class HostPage final : public QWebEnginePage {
    Q_OBJECT

public:
    HostPage(QWebEngineProfile *profile, HostWindow *window, bool bridged);
    ~HostPage() override;

    bool isBridged() const { return m_bridged; }
    // The page's last console error (its first 500 characters), for whoever reports its failure.
    const QString &lastConsoleError() const { return m_lastConsoleError; }
    const QString &token() const { return m_token; }
    HostWindow *hostWindow() const { return m_window; }
    ObjectTable &objects() { return *m_objects; }

    // The page a bridge request with this token comes from.
    static HostPage *byToken(const QString &token);

    // Parts of a call too long for one address, joined when the call arrives.
    QHash<QString, QList<QByteArray>> &transfers() { return m_transfers; }
    // Long calls staged through the page's web channel.
    BulkChannel &bulk() { return *m_bulk; }
    // A file read for the page, kept under a new name until a request of the page takes it: its
    // bytes, or the open file the engine reads as it parses.
    QString holdRead(std::unique_ptr<QIODevice> read);
    std::unique_ptr<QIODevice> takeRead(const QString &name);
    // Tells the page's script (__tavreloHost's "tavrelofilechange" event of the window) when the
    // file at `path` changes on disk, whoever changed it; an empty path ends the watch.
    void watchFile(const QString &path);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int line,
                                  const QString &source) override;
    void javaScriptAlert(const QUrl &origin, const QString &message) override;
    bool javaScriptConfirm(const QUrl &origin, const QString &message) override;

private:
    class RequestGuard;

    HostWindow *m_window;
    bool m_bridged;
    QString m_token;
    std::unique_ptr<RequestGuard> m_guard;
    ComPtr<PageSite> m_site;
    std::unique_ptr<ObjectTable> m_objects;
    QHash<QString, QList<QByteArray>> m_transfers;
    std::vector<std::pair<QString, std::unique_ptr<QIODevice>>> m_heldReads;
    BulkChannel *m_bulk;
    std::unique_ptr<FileWatch> m_fileWatch;
    QString m_lastConsoleError;
};

// True when the library is registered as the server of some class (cached per process for a
// short while, as every resource request asks).
bool isTrustedLibrary(const QString &path);

} // namespace tavrelo::htahost
