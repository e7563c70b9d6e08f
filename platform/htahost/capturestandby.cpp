// The capture dialog kept ready (ipc/capturedialog.h has the protocol): a host process whose
// engine is up and whose dialog window is made, hidden, before the browser asks. It opens one
// capture dialog, in this process and with this process's own collection locks, exactly as a
// dialog process started for the capture would, and ends when that dialog has closed.

#include "hostpage.h"
#include "hostprogram.h"
#include "hostwindow.h"
#include "resaddress.h"
#include "schemehandler.h"

#include "automation/module.h"
#include "ipc/capturedialog.h"
#include "shell/desktopidentity.h"

#include <QApplication>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <QWebEngineProfile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tavrelo::htahost {

Q_LOGGING_CATEGORY(lcStandby, "tavrelo.htahost.standby")

namespace protocol = tavrelo::ipc::capturedialog;

namespace {

// A standby that no viewer watches by then was started by one that has gone (a viewer watches
// within a fifth of a second of the standby listening).
constexpr int kFirstWatcherMs = 10000;
// How long the dialog's outcome may take to reach the native host once the dialog has closed.
constexpr int kLastWordMs = 5000;

class CaptureStandby final : public QObject {
public:
    CaptureStandby()
    {
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
        m_unwatched.setSingleShot(true);
        connect(&m_unwatched, &QTimer::timeout, this, [this] {
            if (!m_taken && m_watchers == 0)
                QCoreApplication::exit(0);
        });
    }

    ~CaptureStandby() override
    {
        if (m_lock >= 0)
            ::close(m_lock);
    }

    // False when another standby holds the socket. The lock decides, so that two standbys started
    // at once never both listen (a user-only socket is renamed over its name, which would take a
    // live one's name), and before the engine starts, so that the one that ends at once takes
    // nothing (its DevTools port) from the one that stays.
    bool lock()
    {
        m_lock = ::open(protocol::lockPath().toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        return m_lock >= 0 && ::flock(m_lock, LOCK_EX | LOCK_NB) == 0;
    }

    // Takes the socket and makes the dialog window ready.
    bool listen(QWebEngineProfile *profile)
    {
        m_profile = profile;
        const QString path = protocol::socketPath();
        QLocalServer::removeServer(path); // what a standby that died left
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        if (!m_server.listen(path)) {
            qCWarning(lcStandby, "Cannot stand by for captures: %s", qPrintable(m_server.errorString()));
            return false;
        }
        m_spare = HostWindow::makeSpare(m_profile);
        m_unwatched.start(kFirstWatcherMs);
        return true;
    }

    // At the end of the session: an open dialog closes as by its close box; a standby simply ends.
    void endSession()
    {
        if (m_taken)
            HostWindow::closeAll(kSessionGraceMs);
        else
            QCoreApplication::exit(0);
    }

private:
    void serve(QLocalSocket *socket)
    {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        socket->write(protocol::line({{QStringLiteral("hello"), QLatin1String(protocol::kHello)},
                                      {QStringLiteral("version"), protocol::kVersion},
                                      {QStringLiteral("pid"), qint64(QCoreApplication::applicationPid())}}));
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer] {
            if (socket->property("tavreloHeard").toBool()) {
                socket->readAll(); // one message per connection
                return;
            }
            *buffer += socket->readAll();
            bool malformed = false;
            const std::optional<QJsonObject> message = protocol::takeLine(buffer.get(), &malformed);
            if (malformed) {
                qCWarning(lcStandby, "Dropped a capture request that is not one line of JSON within %lld bytes",
                          static_cast<long long>(protocol::kMaxLineBytes));
                socket->abort();
                return;
            }
            if (!message)
                return;
            socket->setProperty("tavreloHeard", true);
            buffer->clear();
            if (message->value(QStringLiteral("watch")).toBool())
                watch(socket);
            else
                handle(socket, *message);
        });
    }

    void watch(QLocalSocket *socket)
    {
        ++m_watchers;
        connect(socket, &QLocalSocket::disconnected, this, [this] {
            if (--m_watchers == 0 && !m_taken)
                QCoreApplication::exit(0);
        });
    }

    void handle(QLocalSocket *socket, const QJsonObject &request)
    {
        const auto refuse = [socket](const QString &why) {
            qCWarning(lcStandby).noquote() << "Refused a capture request:" << why;
            socket->write(protocol::line({{QStringLiteral("refused"), why}}));
            socket->disconnectFromServer();
        };
        // Checked as the command line of a dialog host is, and a page of the application only.
        const QUrl page(request.value(QStringLiteral("page")).toString());
        const std::optional<ResAddress> address = parseResAddress(page);
        if (!address)
            return refuse(QStringLiteral("the page is not res:// followed by an existing library file and a page name"));
        if (!isTrustedLibrary(address->library))
            return refuse(QStringLiteral("the page is not one of the application's"));
        const std::optional<QJsonObject> captured = protocol::menuArguments(request.value(QStringLiteral("menuArguments")));
        if (!captured)
            return refuse(QStringLiteral("the menu arguments are not a JSON object with title, url, selectionType and text"));
        if (m_taken)
            return refuse(QStringLiteral("this standby has opened its dialog already"));

        // The name goes to the next standby at once; this process is the dialog's now.
        m_taken = true;
        m_server.close();
        ::close(std::exchange(m_lock, -1));

        WindowOptions options;
        options.address = page;
        options.library = address->library;
        options.commandLine = u'"' + page.toString() + u'"';
        QByteArray html;
        tavrelo::automation::loadModuleResource(address->library, QStringLiteral("HTML"), address->resource, &html);
        options.attributes = HtaAttributes::parse(html);
        options.menuArguments = *captured;
        HostWindow *dialog = std::exchange(m_spare, nullptr);
        dialog->openSpare(std::move(options));
        socket->write(protocol::line({{QStringLiteral("opened"), true}}));
        dialog->onClosed([socket = QPointer<QLocalSocket>(socket), page = QPointer<HostPage>(dialog->page())](std::optional<QJsonValue> value) {
            // As a dialog host's exit status: the returnValue when it is 0 or 2, else cancelled.
            int status = value && value->isDouble() ? value->toInt(-1) : -1;
            if (status != kDialogStored && status != kDialogFailed)
                status = kDialogCancelled;
            QTimer::singleShot(kLastWordMs, qApp, [] { QCoreApplication::exit(0); });
            if (!socket || socket->state() != QLocalSocket::ConnectedState) // the asker has gone; the dialog has done its work all the same
                return QCoreApplication::exit(0);
            connect(socket, &QLocalSocket::disconnected, qApp, [] { QCoreApplication::exit(0); });
            socket->write(protocol::line({{QStringLiteral("status"), status},
                                          {QStringLiteral("reason"), page ? page->lastConsoleError() : QString()}}));
            socket->disconnectFromServer(); // once what is written has gone
        });
    }

    QWebEngineProfile *m_profile = nullptr;
    QLocalServer m_server;
    QTimer m_unwatched;
    HostWindow *m_spare = nullptr;
    int m_lock = -1;
    int m_watchers = 0;
    bool m_taken = false;
};

}

int runCaptureStandby(int &argc, char **argv)
{
    SchemeHandler::registerScheme();
    QApplication app(argc, argv);
    tavrelo::shell::applyDesktopIdentity();
    QApplication::setOrganizationName(QStringLiteral("Tavrelo"));
    // The dialog's end is told to the native host before the process ends.
    QApplication::setQuitOnLastWindowClosed(false);
    // The connections go last: a viewer that watches starts the next standby once they have.
    CaptureStandby standby;
    if (!standby.lock())
        return 0;
    QWebEngineProfile *profile = makeProfile(&app);
    int result = 0;
    if (standby.listen(profile)) {
        watchSessionEnd(app, [&standby] { standby.endSession(); });
        result = QApplication::exec();
    }
    // Pages go before their profile.
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows)
        delete qobject_cast<HostWindow *>(window);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete profile;
    return result;
}

} // namespace tavrelo::htahost
