// htahost: runs an HTML Application (or any page) from a library's resources.
//
//   htahost [--dialog] [--features TEXT] [--menu-arguments FILE] [--screenshot FILE] res://LIBRARY/PAGE [ARGUMENT...]
//   htahost --capture-standby
//   htahost --help | --version

#include "htahost/hostprogram.h"
#include "ipc/capturedialog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <dirent.h>
#include <unistd.h>

using namespace tavrelo::htahost;

namespace {

constexpr int kUsage = 2;

// The host's options; everything from the page's address on is the page's own command line.
struct HostOptions {
    QCommandLineOption dialog{QStringLiteral("dialog"),
                              QStringLiteral("Run the page as a modal dialog: the host ends with its returnValue.")};
    QCommandLineOption features{QStringLiteral("features"), QStringLiteral("The dialog's features (dialogWidth:…; dialogHeight:…)."),
                                QStringLiteral("TEXT")};
    QCommandLineOption menuArguments{QStringLiteral("menu-arguments"),
                                     QStringLiteral("A JSON file with the captured browser window for a capture dialog."),
                                     QStringLiteral("FILE")};
    QCommandLineOption captureStandby{QStringLiteral("capture-standby"),
                                      QStringLiteral("Stand by for the browser's next capture with the engine started (the viewer starts it).")};
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
        parser.addOptions({dialog, features, menuArguments, captureStandby, screenshot, help, version});
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

// The viewer that starts a standby holds files (its collection's lock among them) and sockets
// (its DevTools server's) that the engine does not mark close-on-exec; a standby outlives the
// viewer, so it must not keep them open.
void closeInheritedFiles()
{
    if (::close_range(3, ~0U, 0) == 0)
        return;
    std::vector<int> open;
    if (DIR *folder = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(folder))
            if (const int fd = std::atoi(entry->d_name); fd > 2 && fd != ::dirfd(folder))
                open.push_back(fd);
        ::closedir(folder);
    }
    for (const int fd : open)
        ::close(fd);
}

QString quoted(const QString &text) { return u'"' + text + u'"'; }

// The captured browser window for a capture dialog: {"title", "url", "selectionType", "text"}.
bool readMenuArguments(const QString &path, QJsonObject *arguments)
{
    namespace protocol = tavrelo::ipc::capturedialog;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > protocol::kMaxMenuArgumentsBytes)
        return false;
    const std::optional<QJsonObject> captured = protocol::menuArguments(QJsonDocument::fromJson(file.readAll()).object());
    if (captured)
        *arguments = *captured;
    return captured.has_value();
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
    else if (parser.isSet(hostOptions.captureStandby) && arguments.isEmpty()) {
        closeInheritedFiles();
        return runCaptureStandby(argc, argv);
    }
    else if (parser.isSet(hostOptions.captureStandby))
        problem = QStringLiteral("a capture standby takes no page");
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

    return runHost(argc, argv, *address, std::move(options), screenshot);
}
