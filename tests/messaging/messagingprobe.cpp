// A process with a page's helper object, for the messaging tests between processes. Commands on
// stdin, one per line; answers and events on stdout, one per line:
//
//   create [nosite]      -> "ready" (a helper object; with a shown window as its site's, unless nosite)
//   mark                 -> "ok"  (DoBroadcastCloseSplash)
//   send <path>          -> "sent" (DoSendChangeNotification with the path and -1)
//   modal | unmodal      -> "ok"  (opens or closes an application-modal dialog)
//   minimize             -> "ok"
//   state                -> "minimized 0|1"
//   hold | letgo         -> "ok"  (takes or gives up the notification mutex)
//   events: "event <event> <values read during it>", then "idle <values read after it>"

#include "support/eventrecorder.h"

#include "support/probecommands.h"

#include "messaging/records.h"
#include "sync/namedlock.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const auto say = &ProbeCommands::say;

    QWidget window;
    window.resize(200, 100);
    QDialog dialog(&window);
    dialog.setWindowModality(Qt::ApplicationModal);
    BusyableSite site(&window);
    ComPtr<Quillet> helper;
    std::unique_ptr<EventRecorder> recorder;

    const ProbeCommands commands([&](const QString &line) {
        const QString command = line.section(u' ', 0, 0);
        if (command == u"create") {
            helper = Quillet::create();
            if (line != u"create nosite") {
                window.show();
                helper->SetSite(&site);
            }
            recorder = std::make_unique<EventRecorder>(helper.get());
            say(QStringLiteral("ready"));
        } else if (command == u"mark") {
            helper->DoBroadcastCloseSplash();
            say(QStringLiteral("ok"));
        } else if (command == u"send") {
            helper->DoSendChangeNotification(line.section(u' ', 1), -1);
            say(QStringLiteral("sent"));
        } else if (command == u"modal") {
            dialog.show();
            say(QStringLiteral("ok"));
        } else if (command == u"unmodal") {
            dialog.hide();
            say(QStringLiteral("ok"));
        } else if (command == u"minimize") {
            window.showMinimized();
            say(QStringLiteral("ok"));
        } else if (command == u"hold") {
            say(tavrelo::sync::acquireNamedLock(messaging::kNotificationMutex) ? QStringLiteral("ok") : QStringLiteral("failed"));
        } else if (command == u"letgo") {
            say(tavrelo::sync::releaseNamedLock(messaging::kNotificationMutex) ? QStringLiteral("ok") : QStringLiteral("failed"));
        } else if (command == u"state") {
            say(QStringLiteral("minimized %1").arg(window.isMinimized() ? 1 : 0));
        } else {
            say(QStringLiteral("unknown ") + line);
        }
    });
    // Events are written as they come, with the idle values right after.
    QTimer watch;
    qsizetype reported = 0;
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
        if (!recorder)
            return;
        while (reported < recorder->events.size()) {
            say(QStringLiteral("event ") + recorder->events.at(reported++));
            say(QStringLiteral("idle ") + recorder->idleValues());
        }
    });
    watch.start(10);
    return QApplication::exec();
}
