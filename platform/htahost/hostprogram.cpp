// The host's run: the application, the page's window in an off-the-record profile, and the end
// of the session.

#include "hostprogram.h"
#include "hostpage.h"
#include "schemehandler.h"
#include "singleinstance.h"
#include "standbykeeper.h"

#include "automation/module.h"
#include "ipc/capturedialog.h"
#include "shell/desktopidentity.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrelo::htahost {

namespace {

int g_signalPipe[2] = {-1, -1};

}

void watchSessionEnd(QApplication &app, std::function<void()> ended)
{
    if (!ended)
        ended = [] { HostWindow::closeAll(kSessionGraceMs); };
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier, ended = std::move(ended)] {
        char signal = 0;
        if (::read(g_signalPipe[1], &signal, 1) == 1)
            ended();
        notifier->setEnabled(true);
    });
    struct sigaction action {};
    action.sa_handler = [](int) {
        const char signal = 1;
        [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &signal, 1);
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(number, &action, nullptr);
}

QWebEngineProfile *makeProfile(QObject *parent)
{
    auto *profile = new QWebEngineProfile(parent); // off the record: nothing of the pages is kept on disk
    profile->installUrlSchemeHandler(QByteArrayLiteral("res"), new SchemeHandler(profile));
    profile->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    profile->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    profile->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    return profile;
}

int runHost(int &argc, char **argv, const ResAddress &page, WindowOptions options, const QString &screenshot)
{
    SchemeHandler::registerScheme();
    QApplication app(argc, argv);
    // Every window names the desktop entry (the viewer's, its dialogs', the capture dialog's).
    tavrelo::shell::applyDesktopIdentity();
    QApplication::setOrganizationName(QStringLiteral("Tavrelo"));

    QByteArray html;
    tavrelo::automation::loadModuleResource(page.library, QStringLiteral("HTML"), page.resource, &html);
    options.attributes = HtaAttributes::parse(html);
    options.bridged = isTrustedLibrary(page.library);

    std::unique_ptr<SingleInstance> single;
    const QString applicationName = options.attributes.value(QStringLiteral("applicationName"));
    if (options.attributes.isYes(QStringLiteral("singleInstance"), false) && !applicationName.isEmpty()) {
        single = std::make_unique<SingleInstance>(applicationName);
        if (single->handOver())
            return 0;
    }

    QWebEngineProfile *profile = makeProfile(&app);

    const bool dialog = options.dialog;
    auto *window = new HostWindow(profile, std::move(options));
    int dialogStatus = kDialogCancelled;
    if (dialog) {
        window->onClosed([&dialogStatus](std::optional<QJsonValue> value) {
            const int status = value && value->isDouble() ? value->toInt(-1) : -1;
            if (status == kDialogStored || status == kDialogFailed)
                dialogStatus = status;
        });
    }
    if (single) {
        single->listen([window = QPointer<HostWindow>(window)] {
            if (!window)
                return;
            if (window->isMinimized())
                window->showNormal();
            window->raise();
            window->activateWindow();
        });
    }
    // The application's main window keeps a capture dialog ready for the browser while it is open.
    if (single && !dialog && window->options().bridged && screenshot.isEmpty() && tavrelo::ipc::capturedialog::standbyWanted()) {
        auto *keeper = new StandbyKeeper(window);
        QObject::connect(window->page(), &QWebEnginePage::loadFinished, keeper, &StandbyKeeper::start,
                         Qt::SingleShotConnection);
    }
    if (!screenshot.isEmpty())
        window->screenshotAndClose(screenshot);
    watchSessionEnd(app);

    const int result = QApplication::exec();
    // Pages go before their profile.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete profile;
    return dialog && result == 0 ? dialogStatus : result;
}

} // namespace tavrelo::htahost
