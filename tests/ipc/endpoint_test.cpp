// Endpoints between real processes: finding them by class and title, reading their properties,
// sent records answered synchronously, posted messages handled later, owners that stop or die,
// and requests that are not well-formed.

#include "ipc/endpoint.h"
#include "ipc/wire.h"

#include "support/eventloop.h"
#include "support/processprobe.h"
#include "support/scratchruntime.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>

#include <gtest/gtest.h>

#include <csignal>

using namespace tavrelo::ipc;

namespace {

const QByteArray kClass = "Test Window Class";

class EndpointProbe : public ProcessProbe {
public:
    EndpointProbe() : ProcessProbe(QStringLiteral(ENDPOINT_PROBE)) {}
    EndpointId create(const QString &windowClass = QString::fromUtf8(kClass), const QString &title = QStringLiteral("Probe"))
    {
        const QString id = ask(QStringLiteral("create %1|%2").arg(windowClass, title));
        EXPECT_TRUE(id.startsWith(u"id ")) << id.toStdString();
        return id.mid(3);
    }
};

class Endpoints : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureCoreApplication(); }

    QStringList filesOf(const EndpointId &id) const
    {
        return QDir(endpointDirectory()).entryList({id + QStringLiteral(".*")}, QDir::Files | QDir::System);
    }

    ScratchRuntime m_runtime;
};

} // namespace

TEST_F(Endpoints, AreFoundByClassAndTitleWithTheirPropertiesFromOtherProcesses)
{
    EndpointProbe probe;
    const EndpointId first = probe.create();
    const EndpointId second = probe.create(QString::fromUtf8(kClass), QStringLiteral("Other title"));
    const EndpointId elsewhere = probe.create(QStringLiteral("Another class"), QStringLiteral("Probe"));

    EXPECT_EQ(findEndpoints(kClass), (QList<EndpointId>{second, first})) << "the newest first";
    EXPECT_EQ(findEndpoints("test WINDOW class", QByteArray("probe")), QList<EndpointId>{first})
        << "class and title compare without regard to case";
    EXPECT_EQ(findEndpoints("Another class"), QList<EndpointId>{elsewhere});
    EXPECT_TRUE(findEndpoints("No such class").isEmpty());

    EXPECT_EQ(windowProperty(elsewhere, "Marked"), std::nullopt);
    ASSERT_EQ(probe.ask(QStringLiteral("property Marked 0")), u"ok");
    EXPECT_EQ(windowProperty(elsewhere, "Marked"), 0);
    ASSERT_EQ(probe.ask(QStringLiteral("property Marked 1")), u"ok");
    EXPECT_EQ(windowProperty(elsewhere, "Marked"), 1);
    EXPECT_EQ(windowProperty(first, "Marked"), std::nullopt) << "properties belong to one endpoint";

    ASSERT_EQ(probe.ask(QStringLiteral("destroy")), u"ok");
    EXPECT_TRUE(findEndpoints("Another class").isEmpty());
    EXPECT_EQ(windowProperty(elsewhere, "Marked"), std::nullopt);
    EXPECT_TRUE(filesOf(elsewhere).isEmpty()) << "a removed endpoint leaves no files";
}

TEST_F(Endpoints, AnswerSentRecordsSynchronously)
{
    EndpointProbe probe;
    const EndpointId target = probe.create();
    Endpoint own("Sender", "Me");
    ASSERT_TRUE(own.isValid()) << own.errorString().toStdString();

    QByteArray record(536, '\0');
    record.replace(0, 8, QByteArray::fromHex("180200004e435752"));
    EXPECT_EQ(sendRecord(target, own.id(), 7, record, 20000), SendResult::Accepted);
    EXPECT_EQ(probe.answer(), QStringLiteral("record %1 7 536 180200004e4357520000000000000000").arg(own.id()));

    ASSERT_EQ(probe.ask(QStringLiteral("answer refuse")), u"ok");
    EXPECT_EQ(sendRecord(target, QString(), 0, QByteArray("short"), 20000), SendResult::Refused);
    EXPECT_EQ(probe.answer(), u"record - 0 5 73686f7274");

    // The largest record there is goes through; a larger one is refused before anything is sent.
    ASSERT_EQ(probe.ask(QStringLiteral("answer accept")), u"ok");
    EXPECT_EQ(sendRecord(target, QString(), 0, QByteArray(kMaxRecordSize, 'x'), 20000), SendResult::Accepted);
    EXPECT_TRUE(probe.answer().startsWith(QStringLiteral("record - 0 %1 ").arg(kMaxRecordSize)));
    EXPECT_EQ(sendRecord(target, QString(), 0, QByteArray(kMaxRecordSize + 1, 'x'), 20000), SendResult::Refused);
    EXPECT_FALSE(probe.hasAnswer(300));
}

TEST_F(Endpoints, HandOverRecordsToEndpointsOfTheSameProcessDirectly)
{
    Endpoint receiver(kClass, "Here");
    EndpointId seenSender;
    receiver.setRecordHandler([&](const EndpointId &sender, std::uint32_t, const QByteArray &data) {
        seenSender = sender;
        return data == "take me";
    });
    EXPECT_EQ(sendRecord(receiver.id(), QStringLiteral("1-2"), 0, "take me", 20000), SendResult::Accepted);
    EXPECT_EQ(seenSender, u"1-2") << "handled inside the send, before it returns";
    EXPECT_EQ(sendRecord(receiver.id(), QString(), 0, "not me", 20000), SendResult::Refused);
    EXPECT_EQ(windowProperty(receiver.id(), "Nothing"), std::nullopt);
    receiver.setWindowProperty("Here", 5);
    EXPECT_EQ(windowProperty(receiver.id(), "Here"), 5);
}

TEST_F(Endpoints, HandlePostedMessagesLaterAndInOrder)
{
    Endpoint receiver(kClass, "Here");
    QStringList handled;
    receiver.setMessageHandler([&](const QByteArray &name, std::int64_t w, std::int64_t l, const QByteArray &data) {
        handled << QStringLiteral("%1 %2 %3 %4").arg(QString::fromUtf8(name)).arg(w).arg(l).arg(QString::fromUtf8(data));
    });
    receiver.post("First", 1, -1, "bytes");
    receiver.post("Dropped", 2, 2);
    receiver.post("Second", 3, 4);
    EXPECT_TRUE(handled.isEmpty()) << "a post is handled later, on the event loop";
    EXPECT_EQ(receiver.discardPosted("Dropped"), 1);
    ASSERT_TRUE(turnUntil([&] { return handled.size() == 2; }));
    EXPECT_EQ(handled, (QStringList{QStringLiteral("First 1 -1 bytes"), QStringLiteral("Second 3 4 ")}));

    // From another process.
    EndpointProbe probe;
    EXPECT_EQ(probe.ask(QStringLiteral("post %1 Close~Me 0 -7").arg(receiver.id())), u"posted 1");
    ASSERT_TRUE(turnUntil([&] { return handled.size() == 3; }));
    EXPECT_EQ(handled.last(), u"Close~Me 0 -7 ");

    // And the other way round.
    const EndpointId remote = probe.create();
    EXPECT_TRUE(postMessage(remote, "Hello", 42, 43));
    EXPECT_EQ(probe.answer(), u"message Hello 42 43");
}

TEST_F(Endpoints, OfAProcessThatDiedAreNeverWaitedForAndAreCleanedUp)
{
    EndpointProbe probe;
    const EndpointId dead = probe.create();
    ASSERT_EQ(probe.ask(QStringLiteral("property Marked 1")), u"ok");
    ASSERT_FALSE(filesOf(dead).isEmpty());
    probe.process().kill();
    probe.process().waitForFinished();

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(sendRecord(dead, QString(), 0, "anyone?", 60000), SendResult::Unreachable);
    EXPECT_LT(clock.elapsed(), 10000) << "nobody waits out the time-out for a dead process";
    EXPECT_TRUE(findEndpoints(kClass).isEmpty());
    EXPECT_EQ(windowProperty(dead, "Marked"), std::nullopt);
    EXPECT_TRUE(filesOf(dead).isEmpty()) << filesOf(dead).join(u' ').toStdString();
    EXPECT_FALSE(postMessage(dead, "Hello", 0, 0));
}

TEST_F(Endpoints, OfAProcessThatDoesNotAnswerTimeOut)
{
    EndpointProbe probe;
    const EndpointId stopped = probe.create();
    probe.signal(SIGSTOP);
    EXPECT_EQ(findEndpoints(kClass), QList<EndpointId>{stopped}) << "a stopped process still lives";
    EXPECT_EQ(sendRecord(stopped, QString(), 0, "wake up", 300), SendResult::TimedOut);
    probe.signal(SIGCONT);
    // The record was on its way: the probe takes it once it runs again.
    EXPECT_TRUE(probe.answer().startsWith(u"record - 0 7 "));
}

TEST_F(Endpoints, DropRequestsThatAreNotWellFormedAndGoOn)
{
    EndpointProbe probe;
    const EndpointId target = probe.create();
    const QString socketPath = endpointDirectory() + u'/' + target + QStringLiteral(".sock");
    const QList<QByteArray> garbage = {
        QByteArray("GET / HTTP/1.0\r\n\r\n"),
        wire::sendRequest(QString(), 0, "x").replace(4, 1, "\x02"),            // unknown version
        wire::sendRequest(QString(), 0, "x").replace(8, 1, "\x09"),            // unknown kind
        wire::sendRequest(QString(), 0, "x").replace(12, 4, "\xff\xff\xff\x7f"), // a body too long
        wire::sendRequest(QString(), 0, "x") + "trailing",
        wire::postRequest("Name", 1, 2).replace(16, 4, QByteArray("\x40\x00\x00\x00", 4)), // a name past the body
    };
    for (const QByteArray &bytes : garbage) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        ASSERT_TRUE(socket.waitForConnected(20000));
        socket.write(bytes);
        socket.waitForBytesWritten(20000);
        // Dropped unanswered: the connection ends without a byte.
        while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(20000)) {
        }
        EXPECT_EQ(socket.readAll(), QByteArray()) << bytes.toHex().toStdString();
    }
    EXPECT_FALSE(probe.hasAnswer(200)) << "nothing reached the probe's handlers";
    EXPECT_EQ(sendRecord(target, QString(), 1, "fine", 20000), SendResult::Accepted);
    EXPECT_EQ(probe.answer(), u"record - 1 4 66696e65");
}

TEST(EndpointHandles, NumberAnEndpointLikeAWindowHandle)
{
    EXPECT_EQ(endpointHandle(QStringLiteral("12-3")), (std::int64_t(12) << 32) | 3);
    EXPECT_EQ(endpointHandle(QString()), 0);
    EXPECT_EQ(endpointHandle(QStringLiteral("12")), 0);
    EXPECT_EQ(endpointHandle(QStringLiteral("a-b")), 0);
}
