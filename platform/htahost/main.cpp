// htahost: runs an HTML Application (or any page) from a library's resources.
//
//   htahost [--dialog] [--features TEXT] [--menu-arguments FILE] [--screenshot FILE] res://LIBRARY/PAGE [ARGUMENT...]

#include "hostwindow.h"
#include "resaddress.h"
#include "schemehandler.h"
#include "singleinstance.h"
#include "hostpage.h"

#include "automation/module.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kUsage = 2;
// A host started for a dialog alone ends with the dialog's returnValue when it is one of these,
// else with kDialogCancelled (closed without one, or by its close box).
constexpr int kDialogStored = 0, kDialogCancelled = 1, kDialogFailed = 2;
constexpr int kSessionGraceMs = 10000;
int g_signalPipe[2] = {-1, -1};

int usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "htahost: %s\n", problem);
    std::fprintf(stderr,
                 "usage: htahost [--dialog] [--features TEXT] [--menu-arguments FILE] [--screenshot FILE] "
                 "res://LIBRARY/PAGE [ARGUMENT...]\n");
    return kUsage;
}

QString quoted(const QString &text) { return u'"' + text + u'"'; }

// The captured browser window for a capture dialog: {"title", "url", "selectionType", "text"}.
bool readMenuArguments(const QString &path, QJsonObject *arguments)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024 * 1024)
        return false;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    for (const char *key : {"title", "url", "selectionType", "text"}) {
        if (!object.value(QLatin1String(key)).isString())
            return false;
    }
    *arguments = object;
    return true;
}

// The end of the session (SIGTERM, SIGHUP, SIGINT) closes the windows as the close box does.
void watchSessionEnd(QApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        char signal = 0;
        if (::read(g_signalPipe[1], &signal, 1) == 1)
            HostWindow::closeAll(kSessionGraceMs);
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

}

int main(int argc, char *argv[])
{
    // A write beyond the process's file-size limit fails with EFBIG, which the file service
    // reports like a full disk, instead of ending the host with all its unsaved work.
    std::signal(SIGXFSZ, SIG_IGN);
    // Chromium's sandbox refuses to start as root, which is how containers and CI run.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    SchemeHandler::registerScheme();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("htahost"));
    QApplication::setOrganizationName(QStringLiteral("Tavrelo"));

    WindowOptions options;
    QString screenshot, menuArgumentsFile;
    const QStringList arguments = QApplication::arguments();
    qsizetype at = 1;
    for (; at < arguments.size() && arguments.at(at).startsWith(QStringLiteral("--")); ++at) {
        const QString option = arguments.at(at);
        const bool hasValue = at + 1 < arguments.size();
        if (option == u"--")
            break;
        if (option == u"--dialog")
            options.dialog = true;
        else if (option == u"--features" && hasValue)
            options.features = arguments.at(++at);
        else if (option == u"--menu-arguments" && hasValue)
            menuArgumentsFile = arguments.at(++at);
        else if (option == u"--screenshot" && hasValue)
            screenshot = arguments.at(++at);
        else if (option == u"--help")
            return usage(nullptr) - kUsage;
        else
            return usage("unknown option or missing value");
    }
    if (at < arguments.size() && arguments.at(at) == u"--")
        ++at;
    // A host started by another program (the launcher) takes the screenshot request from its
    // environment; it is for this host only.
    if (screenshot.isEmpty())
        screenshot = qEnvironmentVariable("TAVRELO_SCREENSHOT");
    qunsetenv("TAVRELO_SCREENSHOT");
    if (at >= arguments.size())
        return usage("no page address given");

    options.address = QUrl(arguments.at(at));
    const auto address = parseResAddress(options.address);
    if (!address)
        return usage("the address is not res:// followed by an existing library file and a page name");
    options.library = address->library;
    options.commandLine = quoted(arguments.at(at));
    for (qsizetype i = at + 1; i < arguments.size(); ++i)
        options.commandLine += u' ' + quoted(arguments.at(i));
    if (!menuArgumentsFile.isEmpty() && !readMenuArguments(menuArgumentsFile, &options.menuArguments))
        return usage("the menu arguments file is not a JSON object with title, url, selectionType and text");

    QByteArray page;
    tavrelo::automation::loadModuleResource(address->library, QStringLiteral("HTML"), address->resource, &page);
    options.attributes = HtaAttributes::parse(page);
    options.bridged = isTrustedLibrary(address->library);

    std::unique_ptr<SingleInstance> single;
    const QString applicationName = options.attributes.value(QStringLiteral("applicationName"));
    if (options.attributes.isYes(QStringLiteral("singleInstance"), false) && !applicationName.isEmpty()) {
        single = std::make_unique<SingleInstance>(applicationName);
        if (single->handOver())
            return 0;
    }

    auto *profile = new QWebEngineProfile(&app); // off the record: nothing of the pages is kept on disk
    profile->installUrlSchemeHandler(QByteArrayLiteral("res"), new SchemeHandler(profile));
    profile->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    profile->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    profile->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, false);

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
    if (!screenshot.isEmpty())
        window->screenshotAndClose(screenshot);
    watchSessionEnd(app);

    const int result = QApplication::exec();
    // Pages go before their profile.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete profile;
    return dialog && result == 0 ? dialogStatus : result;
}
