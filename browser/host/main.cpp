// clipvane-native-host: the browser extension's native-messaging host.
//
// The browser starts it with the extension's origin (Chromium) or the manifest's path and the
// add-on's id (Firefox) and talks to it over standard input and output in length-prefixed JSON
// frames (nativemessage.h). Requests:
//
//   {"command":"grab","title":…,"url":…,"selectionType":"Text","text":…}
//       opens the capture dialog on that page (in the standby a running viewer keeps ready, else
//       as a process of its own); answered when the dialog has ended with
//       {"ok":true,"outcome":"stored"|"cancelled"} or {"ok":false,"error":…}
//   {"command":"start"}
//       starts Clipvane; answered {"ok":true,"outcome":"started"} or an error
//
// Every request gets exactly one answer, in the order the dialogs end. Anything that is not a
// well-formed request gets an error answer and a line on standard error. A frame whose length
// prefix cannot be trusted, or a stream that ends inside a frame, ends the reading; the host
// leaves when the input has ended and every dialog it opened has closed.
//
// Started by hand with an option (a browser passes an origin or a manifest's path, never one),
// it answers --help and --version.

#include "capture.h"
#include "nativemessage.h"
#include "standbydialog.h"

#include "ipc/capturedialog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTemporaryFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>

#include <unistd.h>

using namespace tavrelo::nativehost;

namespace {

void logLine(const QString &text)
{
    std::fputs(QString(QStringLiteral("clipvane-native-host: ") + text + u'\n').toUtf8().constData(), stderr);
    std::fflush(stderr);
}

void answer(const QByteArray &body)
{
    const QByteArray bytes = frame(body.size() <= qsizetype(kMaxAnswerBytes)
                                       ? body
                                       : errorAnswer(QStringLiteral("the answer was too long")));
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + written, size_t(bytes.size() - written));
        if (n <= 0)
            return; // the browser has gone; nobody is left to tell
        written += n;
    }
}

void refuse(const QString &error)
{
    logLine(error);
    answer(errorAnswer(error));
}

// Reads exactly `size` bytes; false at the end of the input (or a read error) before that.
bool readExactly(char *data, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::read(STDIN_FILENO, data + done, size_t(size - done));
        if (n == 0)
            return false;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

// Reads frames off standard input on a thread of its own and hands each body to the main
// thread, so that dialogs end and are answered while the browser is quiet.
class InputReader final : public QThread {
public:
    explicit InputReader(QObject *receiver) : m_receiver(receiver) {}

    std::function<void(QByteArray)> onFrame;
    std::function<void(QString)> onEnd; // empty text: the input ended cleanly between frames

private:
    void run() override
    {
        for (;;) {
            unsigned char prefix[4];
            // The first byte tells a clean end from a cut prefix.
            if (!readExactly(reinterpret_cast<char *>(prefix), 1))
                return post(QString());
            if (!readExactly(reinterpret_cast<char *>(prefix) + 1, 3))
                return post(QStringLiteral("message refused: the input ended inside its length prefix"));
            const PrefixCheck check = checkPrefix(prefix);
            if (!check.error.isEmpty())
                return post(check.error);
            QByteArray body(qsizetype(check.length), Qt::Uninitialized);
            if (!readExactly(body.data(), body.size()))
                return post(QStringLiteral("message refused: the input ended inside a message of %1 bytes").arg(check.length));
            QMetaObject::invokeMethod(m_receiver, [this, body] { onFrame(body); }, Qt::QueuedConnection);
        }
    }

    void post(const QString &reason)
    {
        QMetaObject::invokeMethod(m_receiver, [this, reason] { onEnd(reason); }, Qt::QueuedConnection);
    }

    QObject *m_receiver;
};

class Host final : public QObject {
public:
    void handle(const QByteArray &body)
    {
        const ParseResult parsed = parseRequest(body);
        if (!parsed.request)
            return refuse(parsed.error);
        if (parsed.request->command == Request::Command::Start)
            return startLauncher();
        grab(*parsed.request);
    }

    void inputEnded(const QString &reason)
    {
        if (!reason.isEmpty()) {
            refuse(reason + QStringLiteral("; no further messages are read"));
            m_failed = true;
        }
        m_inputOpen = false;
        quitWhenDone();
    }

private:
    void startLauncher()
    {
        const Command command = launcherCommand();
        if (!command.error.isEmpty())
            return refuse(command.error);
        if (!QProcess::startDetached(command.program, command.arguments, QDir::homePath()))
            return refuse(QStringLiteral("Clipvane could not be started (%1)").arg(command.program));
        answer(successAnswer(QStringLiteral("started")));
    }

    void grab(const Request &request)
    {
        const CapturePage page = capturePage();
        if (!page.error.isEmpty())
            return refuse(page.error);
        const QJsonObject captured{{QStringLiteral("title"), request.title},
                                   {QStringLiteral("url"), request.url},
                                   {QStringLiteral("selectionType"), request.selectionType},
                                   {QStringLiteral("text"), request.text}};
        // The standby a running viewer keeps opens the dialog; else the dialog is a process of its own.
        ++m_running;
        if (!tavrelo::ipc::capturedialog::standbyWanted())
            return startDialog(captured);
        auto *standby = new StandbyDialog(page.address, captured, this);
        standby->onUnavailable = [this, standby, captured] {
            standby->deleteLater();
            startDialog(captured);
        };
        standby->onEnded = [this, standby](const DialogOutcome &outcome) {
            standby->deleteLater();
            dialogEnded(outcome);
        };
        standby->start();
    }

    void dialogEnded(const DialogOutcome &outcome)
    {
        if (outcome.ok)
            answer(successAnswer(outcome.outcome));
        else
            refuse(outcome.error);
        --m_running;
        quitWhenDone();
    }

    void startDialog(const QJsonObject &captured)
    {
        // The page's text goes to the dialog in a file only this user can read, removed when
        // the dialog has ended.
        auto arguments = std::make_shared<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/clipvane-grab-XXXXXX.json"));
        const auto failed = [this](const QString &error) { dialogEnded({false, {}, error}); };
        if (!arguments->open())
            return failed(QStringLiteral("the page could not be handed to the capture dialog: ") + arguments->errorString());
        const QByteArray json = QJsonDocument(captured).toJson(QJsonDocument::Compact);
        if (arguments->write(json) != json.size() || !arguments->flush())
            return failed(QStringLiteral("the page could not be handed to the capture dialog: ") + arguments->errorString());
        arguments->close();

        const Command command = captureDialogCommand(arguments->fileName());
        if (!command.error.isEmpty())
            return failed(command.error);
        auto *dialog = new QProcess(this);
        dialog->setProgram(command.program);
        dialog->setArguments(command.arguments);
        dialog->setWorkingDirectory(QDir::homePath());
        // The dialog's own output must never reach the browser, which reads ours as frames.
        dialog->setStandardOutputFile(QProcess::nullDevice());
        dialog->setStandardInputFile(QProcess::nullDevice());
        auto lastError = std::make_shared<QString>();
        connect(dialog, &QProcess::readyReadStandardError, dialog, [dialog, lastError] {
            const QByteArray text = dialog->readAllStandardError();
            std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
            for (const QByteArray &line : text.split('\n')) {
                if (!line.trimmed().isEmpty())
                    *lastError = QString::fromUtf8(line.trimmed()).left(500);
            }
        });
        connect(dialog, &QProcess::finished, this, [this, dialog, arguments, lastError](int code, QProcess::ExitStatus status) {
            dialog->deleteLater();
            dialogEnded(dialogOutcome(status == QProcess::CrashExit, code, *lastError));
        });
        connect(dialog, &QProcess::errorOccurred, this, [this, dialog, arguments, program = command.program](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            dialog->deleteLater();
            dialogEnded({false, {}, QStringLiteral("the capture dialog could not be started (%1)").arg(program)});
        });
        dialog->start();
    }

    void quitWhenDone()
    {
        if (!m_inputOpen && m_running == 0)
            QCoreApplication::exit(m_failed ? 1 : 0);
    }

    bool m_inputOpen = true;
    bool m_failed = false;
    int m_running = 0;
};

// The command line of a host started by hand: --help or --version.
int answerCommandLine()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The native-messaging host of Clipvane's browser extension. The browser starts it and talks to it\n"
        "over standard input and output; by hand it only answers these options."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("origin"),
                                 QStringLiteral("What the browser passes: the extension's origin (Chromium), or the manifest's "
                                                "path and the add-on's id (Firefox)."),
                                 QStringLiteral("[ORIGIN | MANIFEST ADD-ON-ID]"));
    if (!parser.parse(QCoreApplication::arguments()) || !(parser.isSet(help) || parser.isSet(version))) {
        std::fprintf(stderr, "clipvane-native-host: %s\n%s",
                     qPrintable(parser.errorText().isEmpty() ? QStringLiteral("give --help or --version") : parser.errorText()),
                     qPrintable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(help))
        std::fputs(qPrintable(parser.helpText()), stdout);
    else
        std::printf("clipvane-native-host %s\n", CLIPVANE_VERSION);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // A browser that goes away while a dialog is open closes our output; the dialog goes on.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("clipvane-native-host"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CLIPVANE_VERSION));
    if (argc > 1 && argv[1][0] == '-')
        return answerCommandLine();
    Host host;
    InputReader reader(&host);
    reader.onFrame = [&host](const QByteArray &body) { host.handle(body); };
    reader.onEnd = [&host](const QString &reason) { host.inputEnded(reason); };
    reader.start();
    const int status = QCoreApplication::exec();
    // The reader has posted its end, so it has returned.
    reader.wait();
    return status;
}
