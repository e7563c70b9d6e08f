// htahost: runs an HTML Application (or any page) from a library's resources.
//
//   htahost [--dialog] [--features TEXT] [--menu-arguments FILE] [--screenshot FILE] res://LIBRARY/PAGE [ARGUMENT...]
//   htahost --help | --version

#include "hostwindow.h"
#include "resaddress.h"
#include "schemehandler.h"
#include "singleinstance.h"
#include "hostpage.h"

#include "automation/module.h"
#include "shell/desktopidentity.h"

#include <QApplication>
#include <QCommandLineParser>
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

// The host's options; everything from the page's address on is the page's own command line.
struct HostOptions {
    QCommandLineOption dialog{QStringLiteral("dialog"),
                              QStringLiteral("Run the page as a modal dialog: the host ends with its returnValue.")};
    QCommandLineOption features{QStringLiteral("features"), QStringLiteral("The dialog's features (dialogWidth:…; dialogHeight:…)."),
                                QStringLiteral("TEXT")};
    QCommandLineOption menuArguments{QStringLiteral("menu-arguments"),
                                     QStringLiteral("A JSON file with the captured browser window for a capture dialog."),
                                     QStringLiteral("FILE")};
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Save a picture of the window to FILE once the page has loaded, then close."),
                                  QStringLiteral("FILE")};
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and end.")};
    QCommandLineOption version{QStringLiteral("version"), QStringLiteral("Show the version and end.")};

    explicit HostOptions(QCommandLineParser &parser)
    {
        parser.setApplicationDescription(QStringLiteral("Runs an HTML Application, or any page, from a library's resources."));
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
        parser.addOptions({dialog, features, menuArguments, screenshot, help, version});
        parser.addPositionalArgument(QStringLiteral("address"), QStringLiteral("The page: res://LIBRARY/PAGE."));
        parser.addPositionalArgument(QStringLiteral("arguments"), QStringLiteral("The page's command line."),
                                     QStringLiteral("[ARGUMENT...]"));
    }
};

int usage(const QCommandLineParser &parser, const QString &problem)
{
    std::fprintf(stderr, "htahost: %s\n%s", qPrintable(problem), qPrintable(parser.helpText()));
    return kUsage;
}

int answerHelpOrVersion(const QCommandLineParser &parser, const HostOptions &options)
{
    if (parser.isSet(options.help))
        std::fputs(qPrintable(parser.helpText()), stdout);
    else
        std::printf("htahost %s\n", CLIPVANE_VERSION);
    return 0;
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
    // The command line is read before the GUI starts: the usage, the version and a wrong command
    // line are told without a display (Qt's own options, such as -platform, are not taken; its
    // environment variables are).
    QStringList commandLine;
    for (int i = 0; i < argc; ++i)
        commandLine += QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const HostOptions hostOptions(parser);
    const bool parsed = parser.parse(commandLine);
    const QStringList arguments = parser.positionalArguments();
    WindowOptions options;
    std::optional<ResAddress> address;
    QString problem;
    if (!parsed)
        problem = parser.errorText();
    else if (parser.isSet(hostOptions.help) || parser.isSet(hostOptions.version))
        ;
    else if (arguments.isEmpty())
        problem = QStringLiteral("no page address given");
    else if (!(address = parseResAddress(QUrl(arguments.front()))))
        problem = QStringLiteral("the address is not res:// followed by an existing library file and a page name");
    else if (parser.isSet(hostOptions.menuArguments) &&
             !readMenuArguments(parser.value(hostOptions.menuArguments), &options.menuArguments))
        problem = QStringLiteral("the menu arguments file is not a JSON object with title, url, selectionType and text");
    // No address, and nothing wrong: --help or --version.
    if (!problem.isEmpty() || !address) {
        const QCoreApplication core(argc, argv); // the usage names the program as it was started
        QCoreApplication::setApplicationName(QStringLiteral("htahost"));
        return problem.isEmpty() ? answerHelpOrVersion(parser, hostOptions) : usage(parser, problem);
    }
    SchemeHandler::registerScheme();
    QApplication app(argc, argv);
    // Every window names the desktop entry (the viewer's, its dialogs', the capture dialog's).
    tavrelo::shell::applyDesktopIdentity();
    QApplication::setOrganizationName(QStringLiteral("Tavrelo"));

    options.dialog = parser.isSet(hostOptions.dialog);
    options.features = parser.value(hostOptions.features);
    QString screenshot = parser.value(hostOptions.screenshot);
    // A host started by another program (the launcher) takes the screenshot request from its
    // environment; it is for this host only.
    if (screenshot.isEmpty())
        screenshot = qEnvironmentVariable("TAVRELO_SCREENSHOT");
    qunsetenv("TAVRELO_SCREENSHOT");
    options.address = QUrl(arguments.front());
    options.library = address->library;
    options.commandLine = quoted(arguments.front());
    for (qsizetype i = 1; i < arguments.size(); ++i)
        options.commandLine += u' ' + quoted(arguments.at(i));

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
