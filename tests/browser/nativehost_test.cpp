// The native host as the browser meets it: the real clipvane-native-host in a process of its
// own, fed frames on its standard input, with the capture dialog's host and Clipvane played by
// fakeprogram as the registry names them.

#include "browsertest.h"

#include "support/registryprobe.h"
#include "support/eventloop.h"
#include "support/scratchregistry.h"
#include "support/scratchruntime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace registryprobe;

namespace {

constexpr std::uint32_t kMaxIncoming = 16u * 1024u * 1024u;

QByteArray prefix(std::uint32_t length) { return QByteArray(reinterpret_cast<const char *>(&length), 4); }
QByteArray frame(const QByteArray &body) { return prefix(std::uint32_t(body.size())) + body; }
QByteArray json(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QJsonObject grabMessage(const QString &text = QStringLiteral("some text"))
{
    return {{"command", "grab"}, {"title", "A page"}, {"url", "https://example.org/a"}, {"selectionType", "Text"},
            {"text", text}};
}

struct HostRun {
    int exitCode = -1;
    QList<QJsonObject> answers;
    QByteArray rawAnswers;
    QString err;
};

// The answers in `bytes`: each frame's prefix must announce exactly the JSON object after it.
QList<QJsonObject> parseAnswers(const QByteArray &bytes)
{
    QList<QJsonObject> answers;
    qsizetype at = 0;
    while (at + 4 <= bytes.size()) {
        std::uint32_t length = 0;
        std::memcpy(&length, bytes.constData() + at, 4);
        EXPECT_LT(length, 1024u * 1024u);
        const QJsonDocument document = QJsonDocument::fromJson(bytes.mid(at + 4, length));
        EXPECT_TRUE(document.isObject()) << bytes.mid(at + 4, length).toStdString();
        answers.append(document.object());
        at += 4 + qsizetype(length);
    }
    EXPECT_EQ(at, bytes.size()) << "bytes after the last whole frame";
    return answers;
}

class NativeHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_log = m_dir.filePath(QStringLiteral("programs.log"));
        qputenv("FAKE_PROGRAM_LOG", m_log.toUtf8());
        qunsetenv("FAKE_DIALOG_EXIT");
        qunsetenv("FAKE_DIALOG_STDERR");
        qunsetenv("FAKE_DIALOG_RELEASE");
        // The real registration names the capture page; the fake plays the program that runs it.
        const ProcessResult registered = runProgram(QStringLiteral(CLIPVANE_REGSVR), {library()});
        ASSERT_EQ(registered.exitCode, 0) << registered.err;
        ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, QStringLiteral("htafile\\shell\\open\\command"), QString(),
                              u'"' + QStringLiteral(FAKE_PROGRAM) + QStringLiteral("\" \"%1\" %*")));
        ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, QString::fromUtf8(kButtonKey), QStringLiteral("Exec"),
                              QStringLiteral(FAKE_PROGRAM)));
    }

    static QString library() { return QFileInfo(QStringLiteral(HELPERS_LIBRARY)).absoluteFilePath(); }

    // Starts the host, which reads `input`; its input stays open when `keepOpen`.
    void start(const QByteArray &input, bool keepOpen = false)
    {
        m_host.start(QStringLiteral(NATIVE_HOST),
                     {QStringLiteral("chrome-extension://" CLIPVANE_CHROMIUM_EXTENSION_ID "/")});
        ASSERT_TRUE(m_host.waitForStarted());
        m_host.write(input);
        // No event loop runs here: the blocking waits move the bytes.
        while (m_host.bytesToWrite() > 0 && m_host.waitForBytesWritten(kDeadlineMs)) {
        }
        if (!keepOpen)
            m_host.closeWriteChannel();
    }

    HostRun finish()
    {
        HostRun run;
        if (!m_host.waitForFinished(kDeadlineMs)) {
            ADD_FAILURE() << "the host did not end";
            m_host.kill();
            m_host.waitForFinished();
            return run;
        }
        run.exitCode = m_host.exitStatus() == QProcess::NormalExit ? m_host.exitCode() : -1;
        run.rawAnswers = m_host.readAllStandardOutput();
        run.answers = parseAnswers(run.rawAnswers);
        run.err = QString::fromUtf8(m_host.readAllStandardError());
        return run;
    }

    HostRun talk(const QByteArray &input)
    {
        start(input);
        return finish();
    }

    QList<QJsonObject> programsStarted() const
    {
        QList<QJsonObject> records;
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly))
            return records;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (!line.isEmpty())
                records.append(QJsonDocument::fromJson(line).object());
        }
        return records;
    }

    static constexpr const char *kButtonKey =
        "Software\\Microsoft\\Internet Explorer\\Extensions\\{CDE56277-42BE-11d4-B79C-00C0F04903DC}";

    ScratchRegistry m_registry;
    ScratchRuntime m_runtime; // a standby of this user's own session never hears of these captures
    QTemporaryDir m_dir;
    QString m_log;
    QProcess m_host;
};

// A message the host must refuse, what its answer and its line on standard error must say, and
// whether it goes on reading after it (a length prefix it cannot trust ends the reading).
struct RefusedCase {
    const char *name;
    QByteArray input;
    const char *error;
    bool readsOn;
};

QList<RefusedCase> refusedCases()
{
    return {
        {"NotJson", frame("grab please"), "it is not JSON", true},
        {"InvalidUtf8", frame("{\"command\":\"grab\",\"title\":\"\xC3\x28\"}"), "not valid UTF-8", true},
        {"OverlongUtf8", frame("{\"command\":\"st\xC0\xAF\"}"), "not valid UTF-8", true},
        {"NotAnObject", frame("[\"grab\"]"), "it is not a JSON object", true},
        {"NoCommand", frame("{}"), "\"command\" is missing or not a string", true},
        {"CommandNotText", frame("{\"command\":7}"), "\"command\" is missing or not a string", true},
        {"UnknownCommand", frame("{\"command\":\"format-disk\"}"), "unknown command \"format-disk\"", true},
        {"CommandInOtherCase", frame("{\"command\":\"GRAB\"}"), "unknown command \"GRAB\"", true},
        {"GrabWithoutText", frame(json({{"command", "grab"}, {"title", "t"}, {"url", "u"}, {"selectionType", "Text"}})),
         "\"text\" is missing or not a string", true},
        {"GrabTitleNotText", frame(json({{"command", "grab"}, {"title", 1}, {"url", "u"}, {"selectionType", "Text"}, {"text", "x"}})),
         "\"title\" is missing or not a string", true},
        {"GrabUrlNull", frame(json({{"command", "grab"}, {"title", "t"}, {"url", QJsonValue::Null}, {"selectionType", "Text"}, {"text", "x"}})),
         "\"url\" is missing or not a string", true},
        {"GrabExtraField", frame(json([] { QJsonObject o = grabMessage(); o["html"] = "<b>x</b>"; return o; }())),
         "unexpected field \"html\"", true},
        {"StartWithField", frame(json({{"command", "start"}, {"file", "/etc/passwd"}})), "unexpected field \"file\"", true},
        {"BlankText", frame(json(grabMessage(" \t\r\n \u00a0"))), "You should select some text to grab", true},
        {"ImageSelection", frame(json([] { QJsonObject o = grabMessage(); o["selectionType"] = "Control"; return o; }())),
         "You should select some text to grab", true},
        {"ZeroLength", prefix(0), "its length prefix is 0", false},
        {"OverTheLimit", prefix(kMaxIncoming + 1) + QByteArray(64, 'x'), "announces 16777217 bytes", false},
        {"HugePrefix", prefix(0xFFFFFFFFu), "announces 4294967295 bytes", false},
        {"CutPrefix", QByteArray("\x05\x00", 2), "ended inside its length prefix", false},
        {"CutBody", prefix(40) + "{\"command\":\"start\"}", "ended inside a message of 40 bytes", false},
    };
}

class RefusedMessage : public NativeHost, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedMessage, getsAnErrorAnswerAndALineOnStandardErrorAndStartsNothing)
{
    const RefusedCase &row = GetParam();
    // A good message after the bad one: answered when the host reads on, never started otherwise.
    const bool cut = QByteArray(row.name).startsWith("Cut");
    const HostRun run = talk(row.input + (cut ? QByteArray() : frame(json(grabMessage(QStringLiteral("after"))))));
    ASSERT_GE(run.answers.size(), 1) << run.err.toStdString();
    EXPECT_EQ(run.answers[0].value("ok"), QJsonValue(false));
    EXPECT_TRUE(run.answers[0].value("error").toString().contains(QString::fromUtf8(row.error)))
        << run.answers[0].value("error").toString().toStdString();
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(row.error))) << run.err.toStdString();
    const QList<QJsonObject> started = programsStarted();
    if (row.readsOn) {
        ASSERT_EQ(run.answers.size(), 2);
        EXPECT_EQ(run.answers[1], (QJsonObject{{"ok", true}, {"outcome", "stored"}}));
        ASSERT_EQ(started.size(), 1);
        EXPECT_TRUE(started[0].value("menuArguments").toString().contains("after"));
        EXPECT_EQ(run.exitCode, 0);
    } else {
        EXPECT_EQ(run.answers.size(), 1);
        EXPECT_TRUE(started.isEmpty());
        EXPECT_EQ(run.exitCode, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Checks, RefusedMessage, ::testing::ValuesIn(refusedCases()),
                         [](const ::testing::TestParamInfo<RefusedCase> &row) { return std::string(row.param.name); });

TEST_F(NativeHost, opensTheRegisteredCapturePageAsADialogWithThePageInAPrivateFileRemovedAfterwards)
{
    const QString text = QStringLiteral("First paragraph\n\nSecond\tparagraph \u00e9\u4e2d \U0001F600");
    QJsonObject message = grabMessage(text);
    message["title"] = "Title\twith\nbreaks";
    const HostRun run = talk(frame(json(message)));
    ASSERT_EQ(run.answers, (QList<QJsonObject>{{{"ok", true}, {"outcome", "stored"}}})) << run.err.toStdString();
    EXPECT_EQ(run.exitCode, 0);

    const QList<QJsonObject> started = programsStarted();
    ASSERT_EQ(started.size(), 1);
    const QStringList argv = started[0].value("argv").toVariant().toStringList();
    ASSERT_EQ(argv.size(), 4);
    EXPECT_EQ(argv[0], QStringLiteral("--dialog"));
    EXPECT_EQ(argv[1], QStringLiteral("--menu-arguments"));
    EXPECT_EQ(argv[3], QStringLiteral("res://") + library() + QStringLiteral("/ktGrab.htm"));
    EXPECT_EQ(started[0].value("permissions").toInt(), 0x0600) << "only the user may read the page's text";
    const QJsonObject handed = QJsonDocument::fromJson(started[0].value("menuArguments").toString().toUtf8()).object();
    EXPECT_EQ(handed, (QJsonObject{{"title", "Title\twith\nbreaks"}, {"url", "https://example.org/a"},
                                   {"selectionType", "Text"}, {"text", text}}));
    EXPECT_FALSE(QFileInfo::exists(argv[2])) << "the page's text is left behind";
}

TEST_F(NativeHost, answersHowTheDialogEnded)
{
    qputenv("FAKE_DIALOG_EXIT", "1");
    EXPECT_EQ(talk(frame(json(grabMessage()))).answers, (QList<QJsonObject>{{{"ok", true}, {"outcome", "cancelled"}}}));

    qputenv("FAKE_DIALOG_EXIT", "2");
    qputenv("FAKE_DIALOG_STDERR", "Cannot write '/home/me/Clipvane.t-q': the disk is full.");
    HostRun run = talk(frame(json(grabMessage())));
    ASSERT_EQ(run.answers.size(), 1);
    EXPECT_EQ(run.answers[0].value("ok"), QJsonValue(false));
    EXPECT_EQ(run.answers[0].value("error").toString(),
              QStringLiteral("the capture dialog failed (exit status 2): Cannot write '/home/me/Clipvane.t-q': the disk is full."));
    EXPECT_TRUE(run.err.contains("the disk is full")) << "the dialog's own lines reach standard error";

    qunsetenv("FAKE_DIALOG_STDERR");
    qputenv("FAKE_DIALOG_EXIT", "crash");
    run = talk(frame(json(grabMessage())));
    ASSERT_EQ(run.answers.size(), 1);
    EXPECT_EQ(run.answers[0].value("error").toString(), QStringLiteral("the capture dialog ended abnormally"));
}

// Something that takes the connection on the capture standby's socket but never says hello (a
// standby that hangs) is passed by: the dialog starts as a process of its own.
TEST_F(NativeHost, startsTheDialogItselfWhenTheStandbySocketDoesNotAnswer)
{
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(m_runtime.path() + QStringLiteral("/capture-dialog")));
    const HostRun run = talk(frame(json(grabMessage())));
    EXPECT_EQ(run.answers, (QList<QJsonObject>{{{"ok", true}, {"outcome", "stored"}}})) << run.err.toStdString();
    EXPECT_EQ(programsStarted().size(), 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("did not answer"))) << run.err.toStdString();
}

TEST_F(NativeHost, takesAMessageOfExactlyItsLimit)
{
    const QByteArray empty = json(grabMessage(QString()));
    const QString text = QString(qsizetype(kMaxIncoming) - empty.size(), u'x');
    const QByteArray body = json(grabMessage(text));
    ASSERT_EQ(body.size(), qsizetype(kMaxIncoming));
    const HostRun run = talk(frame(body));
    EXPECT_EQ(run.answers, (QList<QJsonObject>{{{"ok", true}, {"outcome", "stored"}}})) << run.err.toStdString();
    const QList<QJsonObject> started = programsStarted();
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(QJsonDocument::fromJson(started[0].value("menuArguments").toString().toUtf8())["text"].toString().size(),
              text.size());
}

TEST_F(NativeHost, keepsSeveralDialogsOpenAtOnceAndAnswersEachWhenItEnds)
{
    const QString release = m_dir.filePath(QStringLiteral("release"));
    qputenv("FAKE_DIALOG_RELEASE", release.toUtf8());
    start(frame(json(grabMessage(QStringLiteral("one")))) + frame(json(grabMessage(QStringLiteral("two")))), true);
    ASSERT_TRUE(turnUntil([&] { return programsStarted().size() == 2; }, kDeadlineMs));
    // Both dialogs are open; neither has been answered, and the host reads on meanwhile.
    EXPECT_TRUE(m_host.readAllStandardOutput().isEmpty());
    m_host.write(frame("{\"command\":\"nothing\"}"));
    ASSERT_TRUE(m_host.waitForBytesWritten(kDeadlineMs));
    ASSERT_TRUE(m_host.waitForReadyRead(kDeadlineMs));
    const QList<QJsonObject> early = parseAnswers(m_host.readAllStandardOutput());
    ASSERT_EQ(early.size(), 1);
    EXPECT_EQ(early[0].value("ok"), QJsonValue(false));

    m_host.closeWriteChannel();
    ScratchRegistry::writeFile(release, "go");
    const HostRun run = finish();
    EXPECT_EQ(run.answers, (QList<QJsonObject>{{{"ok", true}, {"outcome", "stored"}}, {{"ok", true}, {"outcome", "stored"}}}));
    EXPECT_EQ(run.exitCode, 0);
}

TEST_F(NativeHost, startsClipvaneForTheToolbarButton)
{
    const HostRun run = talk(frame("{\"command\":\"start\"}"));
    EXPECT_EQ(run.answers, (QList<QJsonObject>{{{"ok", true}, {"outcome", "started"}}})) << run.err.toStdString();
    ASSERT_TRUE(turnUntil([&] { return programsStarted().size() == 1; }, kDeadlineMs));
    EXPECT_TRUE(programsStarted()[0].value("argv").toArray().isEmpty());
}

TEST_F(NativeHost, saysSoWhenClipvaneIsNotRegistered)
{
    ASSERT_EQ(runProgram(QStringLiteral(CLIPVANE_REGSVR), {QStringLiteral("-u"), library()}).exitCode, 0);
    const HostRun run = talk(frame(json(grabMessage())) + frame("{\"command\":\"start\"}"));
    ASSERT_EQ(run.answers.size(), 2);
    EXPECT_EQ(run.answers[0], (QJsonObject{{"ok", false}, {"error", "Clipvane is not registered: the capture page is unknown"}}));
    EXPECT_EQ(run.answers[1], (QJsonObject{{"ok", false}, {"error", "Clipvane is not registered: its program is unknown"}}));
    EXPECT_TRUE(programsStarted().isEmpty());
}

TEST_F(NativeHost, findsTheCapturePageOfAMachineWideRegistration)
{
    // An installed package registers for every user: the page is the machine's, the user has none.
    ASSERT_EQ(runProgram(QStringLiteral(CLIPVANE_REGSVR), {QStringLiteral("-u"), library()}).exitCode, 0);
    const ProcessResult registered = runProgram(QStringLiteral(CLIPVANE_REGSVR), {QStringLiteral("-m"), library()});
    ASSERT_EQ(registered.exitCode, 0) << registered.err;
    ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Classes\\htafile\\shell\\open\\command"), QString(),
                          u'"' + QStringLiteral(FAKE_PROGRAM) + QStringLiteral("\" \"%1\" %*")));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER,
                           QStringLiteral("Software\\Microsoft\\Internet Explorer\\MenuExt\\Grab &Selected Text...")));

    const HostRun run = talk(frame(json(grabMessage())));
    ASSERT_EQ(run.answers, (QList<QJsonObject>{{{"ok", true}, {"outcome", "stored"}}})) << run.err.toStdString();
    const QList<QJsonObject> started = programsStarted();
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started[0].value("argv").toVariant().toStringList().value(3),
              QStringLiteral("res://") + library() + QStringLiteral("/ktGrab.htm"));
}

} // namespace
