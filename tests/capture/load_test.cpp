// Captures and changes on one collection under load, all real processes: a viewer open on the
// collection, a second page (tests/pages/load-changer.hta) changing it in a loop and reloading
// whenever another page saves, and four captures, each through a native-messaging host of its own
// and its dialog, whose OKs are pressed within a few milliseconds of each other; a dialog that
// shows the reload message gets OK again. Twenty rounds, a fixed seed, and a deadline per round
// that fails the test instead of hanging. Afterwards every host has answered "stored", every
// fragment and every change is in the file once with identifiers of their own, the file is well
// formed, and no process or window is left.

#include "support/viewerfixture.h"

#include <QDateTime>
#include "sync/namedlock.h"

#include <QSet>
#include <QXmlStreamReader>

#include <cstring>
#include <random>
#include <vector>

using namespace tavrelo::helpers;

namespace {

constexpr int kRounds = 20;
constexpr int kDialogs = 4;
constexpr int kRoundMs = 90000; // a round takes a few seconds; a hang shows as a failure
constexpr std::uint32_t kSeed = 28;

const char *kTreeShown = "new Promise((r) => setTimeout(() => { try { r(document.readyState == 'complete' &&"
                         " !!frames.ctlFoldersTree.document.getElementById('FoldersTree')); } catch (e) { r(false); } }))";

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QByteArray grabFrame(const QString &text)
{
    const QByteArray body = QJsonDocument(QJsonObject{{str("command"), str("grab")},
                                                      {str("title"), str("A page")},
                                                      {str("url"), str("https://example.org/")},
                                                      {str("selectionType"), str("Text")},
                                                      {str("text"), text}})
                                .toJson(QJsonDocument::Compact);
    const quint32 length = quint32(body.size());
    return QByteArray(reinterpret_cast<const char *>(&length), sizeof length) + body;
}

// One capture: its native host (which starts the dialog) and the dialog's DevTools page.
struct Capture {
    std::unique_ptr<QProcess> host;
    std::unique_ptr<DevToolsPage> dialog;
    QString text, log;
    QByteArray answer;
    int reloadsSeen = 0, presses = 0;

    // The host's answer, once a whole frame has come.
    std::optional<QJsonObject> answered()
    {
        answer += host->readAllStandardOutput();
        quint32 length = 0;
        if (answer.size() < 4)
            return std::nullopt;
        std::memcpy(&length, answer.constData(), sizeof length);
        if (answer.size() < qsizetype(4 + length))
            return std::nullopt;
        return QJsonDocument::fromJson(answer.mid(4, length)).object();
    }
    // How often the dialog has shown the reload message.
    int reloadMessages() const
    {
        int shown = 0;
        for (const QByteArray &line : ScratchRegistry::readFile(log).split('\n'))
            if (QJsonDocument::fromJson(line).object().value(str("text")).toString().contains(str("has been modified")))
                ++shown;
        return shown;
    }
};

class CaptureLoad : public Viewer {
protected:
    void TearDown() override
    {
        for (QProcess *process : processes())
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(kViewerMs);
            }
        Viewer::TearDown();
    }

    QList<QProcess *> processes()
    {
        QList<QProcess *> all{&m_changer};
        for (Capture &capture : m_captures)
            if (capture.host)
                all << capture.host.get();
        return all;
    }

    QProcessEnvironment environment(quint16 devToolsPort, const QString &log) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(str("HOME"), m_home.path());
        environment.insert(str("TAVRELO_AUTOMATION"), m_home.filePath(str("answers.jsonl")));
        environment.insert(str("TAVRELO_AUTOMATION_LOG"), log);
        environment.insert(str("QTWEBENGINE_REMOTE_DEBUGGING"), QStringLiteral("127.0.0.1:%1").arg(devToolsPort));
        return environment;
    }

    // Starts a capture of `text` through a native host of its own; its dialog logs to `log`.
    Capture &startCapture(const QString &text, const QString &log)
    {
        Capture &capture = m_captures.emplace_back();
        const quint16 port = freePort();
        capture.text = text;
        capture.log = log;
        capture.host = std::make_unique<QProcess>();
        capture.host->setProcessEnvironment(environment(port, log));
        capture.host->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        capture.host->start(str(NATIVE_HOST), {str("chrome-extension://load/")});
        EXPECT_TRUE(capture.host->waitForStarted());
        capture.host->write(grabFrame(text));
        capture.dialog = std::make_unique<DevToolsPage>(port);
        return capture;
    }
    static bool treeShown(Capture &capture)
    {
        return capture.dialog->attach(str("/ktGrab.htm")) &&
               turnUntil([&] { return capture.dialog->evaluate(str(kTreeShown)).toBool(); }, kRoundMs);
    }

    // Starts the four captures of a round and waits until each dialog shows its folder tree.
    bool startRound(int round)
    {
        m_captures.clear();
        m_captures.reserve(kDialogs); // the references stay
        for (int i = 0; i < kDialogs; ++i)
            startCapture(QStringLiteral("round %1 capture %2").arg(round).arg(i),
                         m_home.filePath(QStringLiteral("requests-%1-%2.jsonl").arg(round).arg(i)));
        for (Capture &capture : m_captures)
            if (!treeShown(capture))
                return false;
        return true;
    }

    static void pressOk(Capture &capture, qint64 at)
    {
        ++capture.presses;
        capture.dialog->evaluate(QStringLiteral("setTimeout(() => document.getElementById('OK').click(), Math.max(0, %1 - Date.now())); true")
                                     .arg(at));
    }

    QProcess m_changer;
    std::vector<Capture> m_captures;
};

}

TEST_F(CaptureLoad, EveryCaptureAndEveryChangeIsStoredAndNothingHangs)
{
    const QString path = writeCollection(str("load.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "1");
    QProcess regsvr;
    regsvr.start(str(CLIPVANE_REGSVR), {str("-s"), str(PAGES_LIBRARY)});
    ASSERT_TRUE(regsvr.waitForFinished(30000) && regsvr.exitCode() == 0) << "the page library registers";
    // Every dialog is a process the test started through a host of its own, with its own DevTools
    // port: the viewer keeps no standby (the capture tests cover the standby's dialog).
    m_extraEnvironment.insert(str("TAVRELO_CAPTURE_STANDBY"), str("0"));
    startClipvane({path});
    ASSERT_TRUE(waitForTitle([](const QString &title) { return title.contains(str("load.t-q")); }).contains(str("load.t-q")));

    const quint16 changerPort = freePort();
    m_changer.setProcessEnvironment(environment(changerPort, m_home.filePath(str("requests-changer.jsonl"))));
    m_changer.setProcessChannelMode(QProcess::ForwardedChannels);
    m_changer.start(str(CLIPVANE_HTAHOST), {str("res://") + str(PAGES_LIBRARY) + str("/load-changer.hta"), m_files.path(),
                                            str(HELPERS_LIBRARY), path, QString::number(kSeed)});
    DevToolsPage changer(changerPort);
    ASSERT_TRUE(changer.attach(str("/load-changer.hta")));

    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int> jitter(0, 3);
    QStringList stored;
    for (int round = 0; round < kRounds && !HasFailure(); ++round) {
        ASSERT_TRUE(startRound(round)) << "round " << round << ": the four dialogs show their trees";
        const qint64 at = QDateTime::currentMSecsSinceEpoch() + 300;
        for (Capture &capture : m_captures)
            pressOk(capture, at + jitter(random));
        const bool allAnswered = turnUntil(
            [&] {
                bool all = true;
                for (Capture &capture : m_captures) {
                    if (capture.host->state() == QProcess::NotRunning && capture.answer.isEmpty())
                        capture.answered(); // what the host wrote before it ended
                    if (capture.answered())
                        continue;
                    all = false;
                    const int shown = capture.reloadMessages();
                    if (shown > capture.reloadsSeen) { // the message was answered; OK once more
                        capture.reloadsSeen = shown;
                        pressOk(capture, 0);
                    }
                }
                return all;
            },
            kRoundMs);
        for (Capture &capture : m_captures) {
            const std::optional<QJsonObject> answer = capture.answered();
            EXPECT_TRUE(answer && answer->value(str("outcome")) == str("stored"))
                << "round " << round << ", " << capture.text.toStdString() << ": the host answers 'stored' ("
                << capture.presses << " OKs), got " << capture.answer.mid(4).toStdString();
            if (answer)
                stored << capture.text;
            capture.dialog.reset();
            capture.host->closeWriteChannel();
        }
        ASSERT_TRUE(allAnswered) << "round " << round << " ended in time";
        for (Capture &capture : m_captures)
            EXPECT_TRUE(capture.host->waitForFinished(kRoundMs)) << "the host and its dialog end";
    }

    const QStringList changes = changer.evaluate(str("changer.stop()")).toVariant().toStringList();
    EXPECT_GT(changes.size(), 0) << "the second page saved changes";
    EXPECT_EQ(changer.evaluate(str("changer.failed")).toInt(), 0) << "no change of the second page failed";
    changer.evaluate(str("window.close()"));
    EXPECT_TRUE(m_changer.waitForFinished(kViewerMs)) << "the second page ends";
    stopViewer();

    QProcess xmllint;
    xmllint.start(str(XMLLINT), {str("--noout"), path});
    ASSERT_TRUE(xmllint.waitForFinished(30000));
    EXPECT_EQ(xmllint.exitCode(), 0) << "the collection is well formed: " << xmllint.readAllStandardError().toStdString();

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList uins, texts;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.attributes().hasAttribute(str("UIN")))
            uins << xml.attributes().value(str("UIN")).toString();
        if (xml.qualifiedName() == str("TavTracker:ktFRAGMENT"))
            texts << xml.attributes().value(str("Text")).toString();
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(stored.size(), kRounds * kDialogs);
    for (const QString &text : stored + changes)
        EXPECT_EQ(texts.count(text), 1) << text.toStdString() << " is in the file once";
    EXPECT_EQ(texts.size(), stored.size() + changes.size()) << "nothing else was stored";
    EXPECT_EQ(QSet<QString>(uins.begin(), uins.end()).size(), uins.size()) << "every identifier is distinct";

    for (QProcess *process : processes())
        EXPECT_EQ(process->state(), QProcess::NotRunning);
    EXPECT_TRUE(turnUntil([] { return tavrelo::ipc::findEndpoints("Tavrelo Quillet Notification Window").isEmpty(); }, kViewerMs))
        << "no window of any page is left";
}

// A capture whose collection another program holds: after a few seconds the wait indicator is
// up (logged under the test surface, whose answer cancels it); the cancelled wait ends OK without
// a lock-failure message and the dialog stays, and once the lock is free OK stores.
TEST_F(CaptureLoad, ALongLockWaitShowsTheIndicatorAndItsCancelEndsTheWait)
{
    const QString path = writeCollection(str("held.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "1");
    ASSERT_TRUE(registryprobe::setString(tavrelo::registry::HKEY_CURRENT_USER, str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"),
                                         str("LastFile"), path));
    answer({{str("kind"), str("wait")}, {str("answer"), str("cancel")}});
    Capture &capture = startCapture(str("held text"), m_home.filePath(str("requests-held.jsonl")));
    ASSERT_TRUE(treeShown(capture));

    const QByteArray lock = Quillet::lockNameOf(path);
    ASSERT_TRUE(tavrelo::sync::acquireNamedLock(lock)) << "this test holds the collection";
    pressOk(capture, 0);
    QJsonObject shown;
    ASSERT_TRUE(turnUntil([&] {
        for (const QByteArray &line : ScratchRegistry::readFile(capture.log).split('\n'))
            if (QJsonDocument::fromJson(line).object().value(str("kind")) == str("wait"))
                shown = QJsonDocument::fromJson(line).object();
        return !shown.isEmpty();
    }, kRoundMs)) << "the wait indicator comes up";
    EXPECT_EQ(shown.value(str("text")).toString(), str("Waiting for held.t-q, which another window is using."));
    EXPECT_EQ(shown.value(str("answer")).toString(), str("cancel"));
    EXPECT_EQ(capture.dialog->evaluate(str("typeof OnOK")).toString(), str("function")) << "the dialog is free again";
    EXPECT_FALSE(ScratchRegistry::readFile(capture.log).contains("Failed to lock")) << "a cancelled wait is not a failure to tell";
    EXPECT_FALSE(capture.answered()) << "the dialog stays open";

    ASSERT_TRUE(tavrelo::sync::releaseNamedLock(lock));
    pressOk(capture, 0);
    ASSERT_TRUE(turnUntil([&] { return capture.answered().has_value(); }, kRoundMs));
    EXPECT_EQ(capture.answered()->value(str("outcome")), str("stored"));
    capture.host->closeWriteChannel();
    EXPECT_TRUE(capture.host->waitForFinished(kRoundMs));
    EXPECT_TRUE(ScratchRegistry::readFile(path).contains("Text=\"held text\""));
}
