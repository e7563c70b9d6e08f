// Instance messaging through real helper objects: change notifications between two objects of
// one process and between processes, the values pages read during and after the events,
// refused records, pages that are busy in a call, file-open requests to a marked viewer (front,
// modal, minimised, no window), objects whose process died, and the window members.

#include "support/eventrecorder.h"

#include "ipc/endpoint.h"
#include "messaging/records.h"
#include "object/exports.h"

#include "support/eventloop.h"
#include "support/processprobe.h"
#include "support/scratchruntime.h"
#include "support/widgetapplication.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QShortcut>
#include <QTimer>

#include <gtest/gtest.h>

using namespace messaging;

namespace {

class MessagingProbe : public ProcessProbe {
public:
    MessagingProbe() : ProcessProbe(QStringLiteral(MESSAGING_PROBE)) {}
    // The next line about an event ("event ..." or "idle ..."), or "".
    QString event() { return answer(); }
};

class InstanceMessaging : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureWidgetApplication(); }

    // The notification windows of this process.
    static QList<tavrelo::ipc::EndpointId> ownWindows()
    {
        const QString prefix = QString::number(QCoreApplication::applicationPid()) + u'-';
        QList<tavrelo::ipc::EndpointId> own;
        for (const auto &id : tavrelo::ipc::findEndpoints(kNotificationClass))
            if (id.startsWith(prefix))
                own << id;
        return own;
    }

    ScratchRuntime m_runtime;
};

} // namespace

TEST_F(InstanceMessaging, AChangeReachesEveryOtherObjectOfTheProcessButNotTheSender)
{
    QWidget window;
    BusyableSite site(&window);
    const ComPtr<Quillet> saver = Quillet::create();
    const ComPtr<Quillet> viewer = Quillet::create();
    const ComPtr<Quillet> capture = Quillet::create();
    EventRecorder saverEvents(saver.get()), viewerEvents(viewer.get()), captureEvents(capture.get());
    viewer->SetSite(&site);

    EXPECT_EQ(saver->DoSendChangeNotification(QStringLiteral("/home/me/Notes.t-q"), 17), S_OK);
    EXPECT_TRUE(viewerEvents.events.isEmpty()) << "taken at once, acted on later";
    ASSERT_TRUE(turnUntil([&] { return viewerEvents.events.size() == 1 && captureEvents.events.size() == 1; }));
    EXPECT_EQ(viewerEvents.events.first(), u"onfilechanged /home/me/Notes.t-q|17");
    EXPECT_EQ(captureEvents.events.first(), u"onfilechanged /home/me/Notes.t-q|17");
    turnFor(200);
    EXPECT_TRUE(saverEvents.events.isEmpty()) << "the saver never hears its own notification";
    EXPECT_EQ(viewerEvents.events.size(), 1);
    EXPECT_EQ(viewerEvents.idleValues(), u"|-1|") << "idle values once the event is over";
    EXPECT_EQ(saverEvents.idleValues(), u"|-1|");

    // A long path arrives cut to 520 bytes.
    const QString longPath = u'/' + QString(599, u'n');
    saver->DoSendChangeNotification(longPath, -1);
    ASSERT_TRUE(turnUntil([&] { return viewerEvents.events.size() == 2; }));
    EXPECT_EQ(viewerEvents.events.last(), QStringLiteral("onfilechanged %1|-1").arg(longPath.left(520)));
}

TEST_F(InstanceMessaging, RecordsThatAreNotWellFormedAreRefusedAndRaiseNothing)
{
    const ComPtr<Quillet> receiver = Quillet::create();
    EventRecorder events(receiver.get());
    const QList<tavrelo::ipc::EndpointId> windows = ownWindows();
    ASSERT_EQ(windows.size(), 1);
    const tavrelo::ipc::EndpointId window = windows.first();
    using tavrelo::ipc::SendResult;
    const auto send = [&](const QByteArray &data, const QString &sender = QString()) {
        return tavrelo::ipc::sendRecord(window, sender, 0, data, 20000);
    };

    const QByteArray change = changeRecord(QStringLiteral("/a.t-q"), -1);
    QByteArray wrongTag = change;
    wrongTag.replace(4, 4, "XCWR");
    EXPECT_EQ(send(change.left(535)), SendResult::Refused);
    EXPECT_EQ(send(change + '\0'), SendResult::Refused);
    EXPECT_EQ(send(wrongTag), SendResult::Refused);
    EXPECT_EQ(send(change.left(532)), SendResult::Refused) << "532 bytes announcing 536";
    EXPECT_EQ(send(change, window), SendResult::Refused) << "a record from the receiver's own window";
    turnFor(200);
    EXPECT_TRUE(events.events.isEmpty()) << events.events.join(u", ").toStdString();

    EXPECT_EQ(send(change, QStringLiteral("1-1")), SendResult::Accepted);
    ASSERT_TRUE(turnUntil([&] { return !events.events.isEmpty(); }));
    EXPECT_EQ(events.events, QStringList{QStringLiteral("onfilechanged /a.t-q|-1")});
}

TEST_F(InstanceMessaging, AnEventWaitsWhileThePageIsBusyInACallAndKeepsItsValues)
{
    QWidget window;
    BusyableSite site(&window);
    const ComPtr<Quillet> saver = Quillet::create();
    const ComPtr<Quillet> viewer = Quillet::create();
    EventRecorder events(viewer.get());
    viewer->SetSite(&site);

    site.busy = true;
    saver->DoSendChangeNotification(QStringLiteral("/first.t-q"), -1);
    saver->DoSendChangeNotification(QStringLiteral("/second.t-q"), -1);
    turnFor(400);
    EXPECT_TRUE(events.events.isEmpty()) << "no handler can run while the page waits for a call";
    site.busy = false;
    ASSERT_TRUE(turnUntil([&] { return events.events.size() == 2; }));
    EXPECT_EQ(events.events, (QStringList{QStringLiteral("onfilechanged /first.t-q|-1"),
                                          QStringLiteral("onfilechanged /second.t-q|-1")}))
        << "in the order sent, each with its own path";
}

TEST_F(InstanceMessaging, AnObjectLetGoWhileANotificationWaitsForItGoesQuietly)
{
    ComPtr<Quillet> helper = Quillet::create();
    const QList<tavrelo::ipc::EndpointId> windows = ownWindows();
    ASSERT_EQ(windows.size(), 1);
    MessagingProbe other;
    ASSERT_EQ(other.ask(QStringLiteral("hold")), u"ok") << "another process holds the notification mutex";
    ASSERT_EQ(tavrelo::ipc::sendRecord(windows.first(), QStringLiteral("1-1"), 0,
                                       changeRecord(QStringLiteral("/late.t-q"), -1), 20000),
              tavrelo::ipc::SendResult::Accepted);

    // Letting go waits for the mutex; meanwhile the queued notification comes up and must be
    // dropped, not acted on by an object that is already going.
    QTimer::singleShot(300, [&other] { other.send(QStringLiteral("letgo")); });
    helper.reset();
    EXPECT_EQ(other.answer(), u"ok");
    EXPECT_TRUE(ownWindows().isEmpty());
}

TEST_F(InstanceMessaging, ChangesTravelBetweenProcesses)
{
    MessagingProbe probe;
    ASSERT_EQ(probe.ask(QStringLiteral("create")), u"ready");
    const ComPtr<Quillet> here = Quillet::create();
    EventRecorder events(here.get());

    here->DoSendChangeNotification(QStringLiteral("/home/me/Über notes.t-q"), -1);
    EXPECT_EQ(probe.event(), u"event onfilechanged /home/me/Über notes.t-q|-1");
    EXPECT_EQ(probe.event(), u"idle |-1|");

    // The probe's send waits for this process to take the record: its event loop must turn.
    probe.send(QStringLiteral("send /srv/shared.t-q"));
    ASSERT_TRUE(turnUntil([&] { return !events.events.isEmpty() && probe.process().canReadLine(); }));
    EXPECT_EQ(probe.answer(), u"sent");
    EXPECT_EQ(events.events, QStringList{QStringLiteral("onfilechanged /srv/shared.t-q|-1")});
    EXPECT_FALSE(probe.hasAnswer(200)) << "the probe did not hear its own notification";
}

TEST_F(InstanceMessaging, AnObjectWhoseProcessWasKilledIsNeverWaitedFor)
{
    MessagingProbe probe;
    ASSERT_EQ(probe.ask(QStringLiteral("create")), u"ready");
    const QStringList before = QDir(tavrelo::ipc::endpointDirectory()).entryList(QDir::Files | QDir::System);
    ASSERT_FALSE(before.isEmpty());
    probe.process().kill();
    probe.process().waitForFinished();

    const ComPtr<Quillet> here = Quillet::create();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(here->DoSendChangeNotification(QStringLiteral("/a.t-q"), -1), S_OK);
    EXPECT_LT(clock.elapsed(), 10000) << "far less than the 60 s a live receiver may take";
    for (const QString &file : QDir(tavrelo::ipc::endpointDirectory()).entryList(QDir::Files | QDir::System))
        EXPECT_TRUE(file.startsWith(QString::number(QCoreApplication::applicationPid()) + u'-'))
            << "left behind: " << file.toStdString();

    std::int32_t delivered = 0, found = 0;
    QuilletHelpersRequestFileOpen("/a.t-q", &delivered, &found);
    EXPECT_EQ(found, 0);
}

TEST_F(InstanceMessaging, AFileOpenRequestReachesOnlyAMarkedViewer)
{
    MessagingProbe probe;
    ASSERT_EQ(probe.ask(QStringLiteral("create")), u"ready");
    const QByteArray argument = "\"/home/me/My notes.t-q\"";

    // Still starting: its window reads 0 and is passed over.
    std::int32_t delivered = 0, found = 0;
    EXPECT_EQ(QuilletHelpersRequestFileOpen(argument.constData(), &delivered, &found), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(delivered, 0);
    EXPECT_FALSE(probe.hasAnswer(200));

    ASSERT_EQ(probe.ask(QStringLiteral("mark")), u"ok");
    EXPECT_EQ(QuilletHelpersRequestFileOpen(argument.constData(), &delivered, &found), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(probe.event(), u"event onfileopenrequest \"/home/me/My notes.t-q\"");
    EXPECT_EQ(probe.event(), u"idle |-1|");

    // Held by a modal dialog: still delivered, and the page hears onbusy.
    ASSERT_EQ(probe.ask(QStringLiteral("modal")), u"ok");
    delivered = found = 0;
    QuilletHelpersRequestFileOpen(argument.constData(), &delivered, &found);
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(probe.event(), u"event onbusy \"/home/me/My notes.t-q\"");
    EXPECT_EQ(probe.event(), u"idle |-1|");
    ASSERT_EQ(probe.ask(QStringLiteral("unmodal")), u"ok");

    // Minimised: restored before the event.
    ASSERT_EQ(probe.ask(QStringLiteral("minimize")), u"ok");
    ASSERT_EQ(probe.ask(QStringLiteral("state")), u"minimized 1");
    QuilletHelpersRequestFileOpen("", &delivered, &found);
    EXPECT_EQ(probe.event(), u"event onfileopenrequest") << "an empty request still arrives";
    EXPECT_EQ(probe.event(), u"idle |-1|");
    EXPECT_EQ(probe.ask(QStringLiteral("state")), u"minimized 0");

    // A path longer than 520 bytes is cut.
    const QByteArray longText(600, 'p');
    QuilletHelpersRequestFileOpen(longText.constData(), &delivered, &found);
    EXPECT_EQ(probe.event(), QStringLiteral("event onfileopenrequest ") + QString(520, u'p'));
}

TEST_F(InstanceMessaging, AViewerWithoutAWindowHearsOnbusy)
{
    MessagingProbe probe;
    ASSERT_EQ(probe.ask(QStringLiteral("create nosite")), u"ready");
    ASSERT_EQ(probe.ask(QStringLiteral("mark")), u"ok");
    std::int32_t delivered = 0, found = 0;
    QuilletHelpersRequestFileOpen("/x.t-q", &delivered, &found);
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(probe.event(), u"event onbusy /x.t-q");
}

TEST_F(InstanceMessaging, FlagsAreSetButNeverCleared)
{
    std::int32_t delivered = 1, found = 1;
    EXPECT_EQ(QuilletHelpersRequestFileOpen("/x.t-q", &delivered, &found), 0);
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(QuilletHelpersRequestFileOpen(nullptr, nullptr, nullptr), 0);
}

TEST_F(InstanceMessaging, PropertiesNeedAResultPointer)
{
    const ComPtr<Quillet> helper = Quillet::create();
    EXPECT_EQ(helper->get_FileChangeFilePath(nullptr), E_POINTER);
    EXPECT_EQ(helper->get_FileChangeFolderID(nullptr), E_POINTER);
    EXPECT_EQ(helper->get_FileOpenFilePath(nullptr), E_POINTER);
}

TEST_F(InstanceMessaging, TheMarkOfAViewerIsReadableUntilTheObjectGoes)
{
    ComPtr<Quillet> helper = Quillet::create();
    const QList<tavrelo::ipc::EndpointId> windows = ownWindows();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(tavrelo::ipc::windowProperty(windows.first(), kMainWindowProperty), 0);
    EXPECT_EQ(helper->DoBroadcastCloseSplash(), S_OK);
    EXPECT_EQ(tavrelo::ipc::windowProperty(windows.first(), kMainWindowProperty), 1);
    helper.reset();
    EXPECT_TRUE(ownWindows().isEmpty());
    EXPECT_EQ(tavrelo::ipc::windowProperty(windows.first(), kMainWindowProperty), std::nullopt);
}

TEST_F(InstanceMessaging, DoBroadcastCloseSplashPostsTheCloseMessageToTheSplash)
{
    tavrelo::ipc::Endpoint splash(kSplashClass, kSplashTitle);
    QStringList messages;
    splash.setMessageHandler([&](const QByteArray &name, std::int64_t w, std::int64_t l, const QByteArray &) {
        messages << QStringLiteral("%1 %2 %3").arg(QString::fromUtf8(name)).arg(w).arg(l);
    });
    tavrelo::ipc::Endpoint otherTitle(kSplashClass, "Some other splash");
    otherTitle.setMessageHandler([&](const QByteArray &, std::int64_t, std::int64_t, const QByteArray &) {
        messages << QStringLiteral("wrong window");
    });
    const ComPtr<Quillet> helper = Quillet::create();
    helper->DoBroadcastCloseSplash();
    ASSERT_TRUE(turnUntil([&] { return !messages.isEmpty(); }));
    turnFor(100);
    EXPECT_EQ(messages, QStringList{QStringLiteral("Tavrelo~Quillet~Splash~Window~Close 0 0")});
}

TEST_F(InstanceMessaging, DoCauseFindGivesTheFocusedWindowCtrlF)
{
    QWidget window;
    auto *edit = new QLineEdit(&window);
    int found = 0;
    QObject::connect(new QShortcut(QKeySequence::Find, &window), &QShortcut::activated, &window, [&] { ++found; });
    window.show();
    window.activateWindow();
    edit->setFocus();
    ASSERT_TRUE(turnUntil([&] { return QApplication::focusWidget() == edit; }));

    const ComPtr<Quillet> helper = Quillet::create();
    EXPECT_EQ(helper->DoCauseFind(), S_OK);
    ASSERT_TRUE(turnUntil([&] { return found > 0; }));
    turnFor(100);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(edit->text(), QString()) << "the chord is a shortcut, not typing";
}

TEST_F(InstanceMessaging, DoPostMessagePostsToTheHostWindowLater)
{
    class Window : public QWidget {
    public:
        QStringList received;

    protected:
        bool event(QEvent *event) override
        {
            if (event->type() == WindowMessageEvent::kType) {
                const auto *message = static_cast<WindowMessageEvent *>(event);
                received << QStringLiteral("%1 %2 %3").arg(message->message()).arg(message->wParam()).arg(message->lParam());
                return true;
            }
            return QWidget::event(event);
        }
    } window;
    window.setProperty("tavreloWindowClass", QStringLiteral("{E0F6716F-4E84-11d4-B7AB-00C0F04903DC}"));

    const ComPtr<Quillet> helper = Quillet::create();
    EXPECT_EQ(helper->DoPostMessage(WM_CLOSE, 1, -2, QStringLiteral("{e0f6716f-4e84-11d4-b7ab-00c0f04903dc}")), S_OK);
    EXPECT_TRUE(window.received.isEmpty()) << "posted, not sent";
    ASSERT_TRUE(turnUntil([&] { return !window.received.isEmpty(); }));
    EXPECT_EQ(window.received, QStringList{QStringLiteral("16 1 -2")});
    EXPECT_EQ(helper->DoPostMessage(WM_CLOSE, 0, 0, QStringLiteral("No such class")), S_OK);
    turnFor(100);
    EXPECT_EQ(window.received.size(), 1);
}
