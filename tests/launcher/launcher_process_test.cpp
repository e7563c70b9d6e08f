// The real Clipvane in processes of its own, each with a private registry, runtime folder and
// user-interface test files, on the off-screen platform. The program registered for HTML
// Applications is the fake viewer, which writes down how it was started.

#include "launcher/launcherstrings.h"
#include "launcher/splashwindow.h"

#include "support/registryprobe.h"
#include "launchertest.h"
#include "support/processprobe.h"
#include "support/scratchregistry.h"
#include "support/widgetapplication.h"

#include "ipc/endpoint.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

using namespace tavrelo::launcher;

namespace {

QString str(const char *text) { return QString::fromUtf8(text); }

const QString kViewerAddress =
    str("res://") + QFileInfo(str(HELPERS_LIBRARY)).absoluteFilePath() + str("/TavTracker.hta");
const QString kFakeViewerCommand = str("\"" FAKE_VIEWER "\" \"%1\" %*");
const QString kNotes = str("/home/me/My notes.t-q");

class LauncherProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureWidgetApplication(); // events for the endpoints of this process
        qputenv("TAVRELO_RUNTIME_DIR", m_runtime.path().toUtf8());
    }
    void TearDown() override
    {
        // The viewer lives in a session of its own: nothing ends it but us.
        if (const qint64 pid = viewerRecord(0).value(str("pid")).toInteger(); pid > 0)
            ::kill(pid_t(pid), SIGKILL);
        qunsetenv("TAVRELO_RUNTIME_DIR");
    }

    // .hta names the class Fake.Hta, whose open command is `command` (none when null).
    static void registerHandler(const QString &command)
    {
        using tavrelo::registry::HKEY_CLASSES_ROOT;
        ASSERT_TRUE(registryprobe::setString(HKEY_CLASSES_ROOT, str(".hta"), {}, str("Fake.Hta")));
        if (!command.isNull()) {
            EXPECT_TRUE(registryprobe::setString(HKEY_CLASSES_ROOT, str("Fake.Hta\\shell\\open\\command"), {}, command));
        }
    }

    // Starts the launcher; FAKEVIEWER_MODE tells the fake viewer what to do.
    void start(const QStringList &arguments, const char *mode)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(str("QT_QPA_PLATFORM"), str("offscreen"));
        environment.insert(str("TAVRELO_AUTOMATION"), m_files.filePath(str("answers.jsonl")));
        environment.insert(str("TAVRELO_AUTOMATION_LOG"), m_files.filePath(str("requests.jsonl")));
        environment.insert(str("FAKEVIEWER_OUT"), m_files.filePath(str("viewer.json")));
        environment.insert(str("FAKEVIEWER_MODE"), str(mode));
        environment.insert(str("FAKEVIEWER_PROBE"), str("passed on"));
        m_launcher.setProcessEnvironment(environment);
        m_launcher.setWorkingDirectory(m_files.path());
        m_launcher.setProcessChannelMode(QProcess::ForwardedChannels);
        m_clock.start();
        m_launcher.start(str(CLIPVANE_LAUNCHER), arguments);
        ASSERT_TRUE(m_launcher.waitForStarted());
    }
    // Waits for the launcher to end, which it must do with status 0.
    void finish()
    {
        ASSERT_TRUE(m_launcher.waitForFinished(kDeadlineMs));
        m_ranMs = m_clock.elapsed();
        m_endedAt = QDateTime::currentMSecsSinceEpoch();
        EXPECT_EQ(m_launcher.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(m_launcher.exitCode(), 0);
    }
    void run(const QStringList &arguments, const char *mode = "exit")
    {
        start(arguments, mode);
        finish();
    }

    QList<QJsonObject> loggedRequests() const
    {
        QList<QJsonObject> requests;
        for (const QByteArray &line : ScratchRegistry::readFile(m_files.filePath(str("requests.jsonl"))).split('\n'))
            if (!line.isEmpty())
                requests += QJsonDocument::fromJson(line).object();
        return requests;
    }
    void expectOneError(const QString &text) const
    {
        const QList<QJsonObject> requests = loggedRequests();
        ASSERT_EQ(requests.size(), 1);
        // Owned by the splash, which is up while the launcher tells what went wrong.
        EXPECT_EQ(requests[0], (QJsonObject{{str("kind"), str("message")}, {str("caption"), str(kCaption)},
                                            {str("text"), text}, {str("icon"), str("error")},
                                            {str("buttons"), str("ok")}, {str("owner"), str(kSplashTitle)},
                                            {str("answer"), str("ok")}}));
    }
    // What the fake viewer wrote, once it holds `key`; empty when nothing did within the time.
    QJsonObject viewerRecord(int timeoutMs = kDeadlineMs, const char *key = "pid") const
    {
        QJsonObject record;
        waitUntil(
            [&] {
                record = QJsonDocument::fromJson(ScratchRegistry::readFile(m_files.filePath(str("viewer.json")))).object();
                return record.contains(str(key));
            },
            timeoutMs);
        return record;
    }
    bool viewerStarted() const { return QFile::exists(m_files.filePath(str("viewer.json"))); }
    static bool splashExists() { return !tavrelo::ipc::findEndpoints(kSplashClass, QByteArray(kSplashTitle)).isEmpty(); }

    ScratchRegistry m_registry;
    QTemporaryDir m_runtime, m_files;
    QProcess m_launcher;
    QElapsedTimer m_clock;
    qint64 m_ranMs = -1;
    qint64 m_endedAt = 0;
};

}

TEST_F(LauncherProcess, viewerGetsTheAddressTheFilesTheEnvironmentAndTheFolder)
{
    registerHandler(kFakeViewerCommand);
    const QString quoted = str("say \"cheese\".t-q");
    run({kNotes, quoted});
    const QJsonObject record = viewerRecord();
    EXPECT_EQ(record.value(str("arguments")).toArray(), (QJsonArray{kViewerAddress, kNotes, quoted}));
    EXPECT_EQ(record.value(str("probe")), str("passed on"));
    EXPECT_EQ(record.value(str("folder")), m_files.path());
    EXPECT_TRUE(loggedRequests().isEmpty());
    // The viewer ended at once, so it can never close the splash: the launcher does not wait.
    EXPECT_LT(m_ranMs, kSplashTimeoutMs);
}

TEST_F(LauncherProcess, aFileTypeWithoutAnOpenCommandEndsSilently)
{
    registerHandler(QString());
    run({kNotes});
    EXPECT_TRUE(loggedRequests().isEmpty());
    EXPECT_FALSE(viewerStarted());
}

TEST_F(LauncherProcess, failuresAreToldInMessagesOwnedByTheSplash)
{
    QFile notAProgram(m_files.filePath(str("not a program")));
    ASSERT_TRUE(notAProgram.open(QIODevice::WriteOnly));
    notAProgram.close();
    struct Case {
        const char *what;
        QString command; // the open command of the file type; null: no file type
        QString text;
    };
    const Case cases[] = {
        {"no file type for HTML Applications", QString(), str(kNoHtaHandler)},
        {"a program that is not there", u'"' + m_files.filePath(str("no such viewer")) + str("\" \"%1\""),
         QString::fromLocal8Bit(std::strerror(ENOENT))},
        {"a file that is no program", u'"' + notAProgram.fileName() + str("\" %1"),
         QString::fromLocal8Bit(std::strerror(EACCES))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(m_files.filePath(str("requests.jsonl")));
        if (!c.command.isNull())
            registerHandler(c.command);
        else // the first case, on the still empty registry
            ASSERT_FALSE(registryprobe::keyExists(tavrelo::registry::HKEY_CLASSES_ROOT, str(".hta")));
        run({kNotes});
        expectOneError(c.text);
        EXPECT_FALSE(viewerStarted());
    }
}

TEST_F(LauncherProcess, splashStaysForThreeSecondsWhenTheViewerNeverClosesIt)
{
    registerHandler(kFakeViewerCommand);
    start({}, "stay");
    EXPECT_TRUE(waitUntil(splashExists));
    EXPECT_EQ(m_launcher.state(), QProcess::Running);
    finish();
    EXPECT_GE(m_ranMs, kSplashTimeoutMs);
    EXPECT_FALSE(viewerRecord().isEmpty()) << "the viewer was started";
    EXPECT_FALSE(splashExists()) << "the endpoint ended with the launcher, though the viewer lives on";
}

TEST_F(LauncherProcess, theViewersCloseMessageEndsTheSplash)
{
    registerHandler(kFakeViewerCommand);
    run({kNotes}, "close");
    const QJsonObject record = viewerRecord(kDeadlineMs, "postedAt");
    ASSERT_TRUE(record.contains(str("postedAt"))) << "the viewer found the splash and posted";
    EXPECT_GE(m_endedAt, record.value(str("postedAt")).toInteger()) << "ended after the post";
    // The 3 s cannot have run out: the launcher was started less than that before it ended.
    EXPECT_LT(m_ranMs, kSplashTimeoutMs);
}

TEST_F(LauncherProcess, aRunningViewerThatTakesTheFilesLeavesNothingElseToDo)
{
    registerHandler(kFakeViewerCommand);
    // A running viewer as the helper library finds it: its notification endpoint, marked as the
    // main window's.
    tavrelo::ipc::Endpoint running("Tavrelo Quillet Notification Window", "Notification Listener Window");
    ASSERT_TRUE(running.setWindowProperty("TavQuillet IsMainWnd", 1)) << running.errorString().toStdString();
    bool accept = true;
    QByteArrayList received;
    running.setRecordHandler([&](const tavrelo::ipc::EndpointId &, std::uint32_t, const QByteArray &data) {
        received += data;
        return accept;
    });

    // The request is answered from this thread's events: they run while it waits.
    QByteArray argumentString = '"' + kNotes.toUtf8() + '"';
    argumentString.append('\0');
    for (const bool accepting : {true, false}) {
        accept = accepting;
        start({kNotes}, "exit");
        ASSERT_TRUE(waitUntil([this] { return m_launcher.state() == QProcess::NotRunning; }));
        ASSERT_FALSE(received.isEmpty());
        EXPECT_TRUE(received.takeFirst().contains(argumentString)) << "as the launcher made it, and no more";
        EXPECT_EQ(viewerStarted(), !accepting) << "a viewer that refuses leaves the launcher to start one";
    }
    EXPECT_EQ(viewerRecord().value(str("arguments")).toArray(), (QJsonArray{kViewerAddress, kNotes}));
}

// A viewer with a real helper object in a process of its own (the messaging tests' probe).
class RunningViewer : public ProcessProbe {
public:
    RunningViewer() : ProcessProbe(str(MESSAGING_PROBE)) {}
};

TEST_F(LauncherProcess, aFileGoesToTheMarkedViewerWhichHearsTheWholeArgumentString)
{
    registerHandler(kFakeViewerCommand);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    RunningViewer viewer;
    ASSERT_EQ(viewer.ask(str("create")), str("ready"));
    ASSERT_EQ(viewer.ask(str("mark")), str("ok"));

    bool splashSeen = false;
    start({kNotes}, "exit");
    ASSERT_TRUE(waitUntil([&] {
        splashSeen = splashSeen || splashExists();
        return m_launcher.state() == QProcess::NotRunning;
    }));
    EXPECT_EQ(m_launcher.exitCode(), 0);
    EXPECT_FALSE(splashSeen) << "a request the viewer took shows nothing";
    EXPECT_EQ(viewer.answer(), str("event onfileopenrequest \"/home/me/My notes.t-q\""));
    EXPECT_EQ(viewer.answer(), str("idle |-1|"));
    EXPECT_FALSE(viewerStarted());

    // While a modal dialog holds the viewer, it still takes the request and hears onbusy.
    ASSERT_EQ(viewer.ask(str("modal")), str("ok"));
    run({kNotes, str("second.t-q")});
    EXPECT_EQ(viewer.answer(), str("event onbusy \"/home/me/My notes.t-q\" \"second.t-q\""));
    EXPECT_FALSE(viewerStarted());
}

TEST_F(LauncherProcess, aViewerStillStartingIsPassedOverAndAnotherIsStarted)
{
    registerHandler(kFakeViewerCommand);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    RunningViewer starting;
    ASSERT_EQ(starting.ask(str("create")), str("ready")); // not marked yet
    run({kNotes});
    EXPECT_EQ(viewerRecord().value(str("arguments")).toArray(), (QJsonArray{kViewerAddress, kNotes}));
    EXPECT_FALSE(starting.hasAnswer(200)) << "the starting viewer heard nothing";
}
