// How long a capture takes on a large collection, through the real native-messaging host, the real
// capture dialog and a running viewer: from the host receiving the browser's message until the
// dialog's first paint (and until its folder tree shows), in the standby the viewer keeps ready
// and, beside it, in a dialog process of its own; from OK until the file is saved and the viewer
// has reloaded it; and how many captures per second go into the collection one after another,
// each through a host and a dialog process of its own, OK pressed as soon as the folder tree
// shows, the viewer reloading after each; each beside one save of the same collection measured in
// the same run.
//
//   capture_bench [--fragments M ...]      (1 000 and 100 000 fragments unless given)
//
// Needs a display; without one run it under xvfb-run. Times of different processes are compared on
// the system's wall clock (Date.now() in the pages).

#include "support/devtools.h"
#include "viewerworld.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kLongMs = 1200000;
bool g_profile = false;

using benchworld::freePort;
using benchworld::run;

double wallClockMs() { return double(QDateTime::currentMSecsSinceEpoch()); }

// In the viewer: the end of every read of the collection (a change heard reloads it once the
// wait indicator shows; a large one is read in the background, and its read ends when its
// promise settles), on the wall clock.
const char *kWatchReloads = R"JS(
(() => { window.benchReloads = []; const read = window.fnReadFileNow;
  const ended = () => window.benchReloads.push(Date.now());
  window.fnReadFileNow = function () {
    const r = read.apply(this, arguments);
    if (r && typeof r.then == 'function') r.then(ended, ended); else ended();
    return r;
  };
  return true; })()
)JS";

// In the viewer: one save of a copy of the open collection (a copy, so that the viewer's own
// document keeps its file), best of three, in milliseconds.
const char *kReferenceSave = R"JS(
((path) => { const copy = fnCreateXMLctl(); copy.loadXML(goBase.xml); let best = Infinity;
  for (let i = 0; i < 3; i++) { const start = performance.now(); copy.save(path); best = Math.min(best, performance.now() - start); }
  return best; })
)JS";

const char *kTreeShown = "new Promise((r) => setTimeout(() => { try { r(document.readyState == 'complete' &&"
                         " !!frames.ctlFoldersTree.document.getElementById('FoldersTree')); } catch (e) { r(false); } }))";
const char *kFirstPaint = "(() => { const paints = performance.getEntriesByType('paint');"
                          " const p = paints.find((e) => e.name == 'first-contentful-paint') || paints[0];"
                          " return p ? Date.now() - performance.now() + p.startTime : 0; })()";

QByteArray frame(const QJsonObject &message)
{
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    const quint32 length = quint32(body.size());
    QByteArray framed(reinterpret_cast<const char *>(&length), sizeof length); // the machine's own byte order
    return framed + body;
}

struct Figures {
    double save = 0, xmllint = 0, firstPaint = 0, treeShown = 0, saved = 0, answered = 0, reloaded = 0, capturesPerSecond = 0;
    double ownFirstPaint = 0, ownTreeShown = 0; // a dialog process of its own
};

// Captures in a row for the throughput figure (on collections up to this size: the largest ones
// would take minutes).
constexpr int kCapturesInARow = 10;
constexpr int kCapturesInARowUpTo = 10000;
// Captures through the standby, and through a dialog process of its own, for the medians.
constexpr int kSamples = 5;

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

// Reads the host's answer into `answer` until one whole frame is there.
bool readAnswer(QProcess &host, QByteArray *answer)
{
    return turnUntil([&] {
        *answer += host.readAllStandardOutput();
        quint32 length = 0;
        if (answer->size() >= 4)
            std::memcpy(&length, answer->constData(), sizeof length);
        return answer->size() >= 4 && answer->size() >= qsizetype(4 + length);
    }, kLongMs);
}

QJsonObject grabMessage(const QString &text)
{
    return {{QStringLiteral("command"), QStringLiteral("grab")},
            {QStringLiteral("title"), QStringLiteral("A page")},
            {QStringLiteral("url"), QStringLiteral("https://example.org/")},
            {QStringLiteral("selectionType"), QStringLiteral("Text")},
            {QStringLiteral("text"), text}};
}

// True once a capture standby says hello on the socket of the runtime folder of `environment`.
bool standbyListens(const QProcessEnvironment &environment)
{
    const QString path = environment.value(QStringLiteral("TAVRELO_RUNTIME_DIR")) + QStringLiteral("/capture-dialog");
    return turnUntil([&path] {
        QLocalSocket socket;
        socket.connectToServer(path);
        return socket.waitForConnected(1000) && socket.waitForReadyRead(1000) && socket.readAll().contains("\"hello\"");
    }, 120000);
}

// Waits until the machine's processors have been at least 90 % idle for a quarter of a second
// (at most 30 s), so that a dialog is not measured beside the end of the previous one, the
// viewer's reload and the start of the next standby.
bool waitForQuiet()
{
    const auto times = [] {
        QFile stat(QStringLiteral("/proc/stat"));
        stat.open(QIODevice::ReadOnly);
        const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
        double total = 0;
        for (qsizetype i = 1; i < fields.size(); ++i)
            total += fields.at(i).toDouble();
        return std::pair<double, double>(fields.value(4).toDouble() + fields.value(5).toDouble(), total); // idle + iowait
    };
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        const auto [idle0, total0] = times();
        QThread::msleep(250);
        const auto [idle1, total1] = times();
        if (total1 > total0 && (idle1 - idle0) / (total1 - total0) >= 0.9)
            return true;
    }
    std::fprintf(stderr, "the machine did not become quiet; measuring anyway\n");
    return true;
}

// Waits until the viewer's standby listens and `spare` is attached to its window, loaded, as for a
// user who captures a while after the viewer started.
bool standbyReady(const QProcessEnvironment &environment, DevToolsPage *spare)
{
    const char *missing = !standbyListens(environment)                ? "listens"
                          : !turnUntil([spare] { return spare->attach(QStringLiteral("about:blank")); }, 120000) ? "serves DevTools"
                          : !turnUntil([spare] { return spare->evaluate(QStringLiteral("document.readyState")).toString() == u"complete"; },
                                       kLongMs)
                              ? "has its window loaded"
                              : nullptr;
    if (missing)
        std::fprintf(stderr, "no capture standby of the viewer %s\n", missing);
    return !missing && waitForQuiet();
}

// Starts a native host with `environment`, sends it a grab of `text` and attaches `dialog` to the
// capture dialog on DevTools `port` once its folder tree shows; the wall-clock time the message
// was sent, 0 when the dialog did not show.
double openDialog(QProcess &host, const QProcessEnvironment &environment, quint16 port, const QString &text,
                  std::unique_ptr<DevToolsPage> *dialog)
{
    host.setProcessEnvironment(environment);
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.setReadChannel(QProcess::StandardOutput);
    host.start(QStringLiteral(NATIVE_HOST), {QStringLiteral("chrome-extension://bench/")});
    if (!host.waitForStarted())
        return 0;
    const double sent = wallClockMs();
    host.write(frame(grabMessage(text)));
    *dialog = std::make_unique<DevToolsPage>(port);
    if (!(*dialog)->attach(QStringLiteral("/ktGrab.htm")) ||
        !turnUntil([&dialog] { return (*dialog)->evaluate(QString::fromUtf8(kTreeShown)).toBool(); }, kLongMs)) {
        std::fprintf(stderr, "the capture dialog did not show its folder tree\n");
        return 0;
    }
    return sent;
}

// Captures per second, one after another, each through a host and a dialog of its own; 0 when
// one was not stored.
double capturesPerSecond(QProcessEnvironment environment, int count)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        const quint16 port = freePort();
        environment.insert(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"), QStringLiteral("127.0.0.1:%1").arg(port));
        QProcess host;
        host.setProcessEnvironment(environment);
        host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        host.start(QStringLiteral(NATIVE_HOST), {QStringLiteral("chrome-extension://bench/")});
        if (!host.waitForStarted())
            return 0;
        host.write(frame(grabMessage(QStringLiteral("Capture %1 in a row").arg(i))));
        DevToolsPage dialog(port);
        if (!dialog.attach(QStringLiteral("/ktGrab.htm")) ||
            !turnUntil([&dialog] { return dialog.evaluate(QString::fromUtf8(kTreeShown)).toBool(); }, kLongMs))
            return 0;
        dialog.evaluate(QStringLiteral("setTimeout(() => document.getElementById('OK').click()); true"));
        QByteArray answer;
        if (!readAnswer(host, &answer) || !answer.contains("\"stored\""))
            return 0;
        host.closeWriteChannel();
        host.waitForFinished(60000);
    }
    return count * 1000.0 / double(clock.elapsed());
}

// One collection of `fragments` fragments: the viewer runs on it, a capture stores into it.
bool measure(int fragments, Figures *figures)
{
    QTemporaryDir scratch;
    const QList<quint16> ports = benchworld::freePorts(3);
    const quint16 viewerPort = ports[0], dialogPort = ports[1], standbyPort = ports[2];
    QProcessEnvironment environment = benchworld::environment(scratch, viewerPort);
    environment.remove(QStringLiteral("TAVRELO_CAPTURE_STANDBY"));
    environment.insert(QStringLiteral("TAVRELO_STANDBY_REMOTE_DEBUGGING"), QStringLiteral("127.0.0.1:%1").arg(standbyPort));
    // The capture dialog opens the last collection, else this one.
    const QString collection = scratch.filePath(QStringLiteral("home/Clipvane.t-q"));
    if (!benchworld::generateCollection(collection, QString::number(qMax(10, fragments / 10)), QString::number(fragments), environment) ||
        !benchworld::startViewer(collection, environment))
        return false;
    std::printf("\ncollection: %d fragments, %.1f MiB\n", fragments, double(QFileInfo(collection).size()) / (1024.0 * 1024.0));
    figures->xmllint = benchworld::bestOfThree(QStringLiteral("xmllint"), {QStringLiteral("--noout"), collection});

    DevToolsPage viewer(viewerPort);
    if (!benchworld::attachViewer(viewer, QStringLiteral("Clipvane.t-q")) || !viewer.evaluate(QString::fromUtf8(kWatchReloads)).toBool()) {
        std::fprintf(stderr, "the viewer did not open the collection\n");
        return false;
    }
    const QString copy = scratch.filePath(QStringLiteral("copy.t-q"));
    figures->save = viewer.evaluate(QString::fromUtf8(kReferenceSave) + QStringLiteral("('%1')").arg(copy), kLongMs).toDouble();

    // The browser's message, as the extension sends it, once the viewer keeps a standby ready.
    environment.insert(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"), QStringLiteral("127.0.0.1:%1").arg(dialogPort));
    auto spare = std::make_unique<DevToolsPage>(standbyPort);
    if (!standbyReady(environment, spare.get()))
        return false;
    if (g_profile) {
        spare->call(QStringLiteral("Profiler.enable"), {});
        spare->call(QStringLiteral("Profiler.setSamplingInterval"), {{QStringLiteral("interval"), 200}});
        spare->call(QStringLiteral("Profiler.start"), {});
    }
    QProcess host;
    std::unique_ptr<DevToolsPage> dialog;
    const double sent = openDialog(host, environment, standbyPort, QStringLiteral("A selection\r\nof two lines"), &dialog);
    if (sent <= 0)
        return false;
    figures->treeShown = wallClockMs() - sent;
    figures->firstPaint = dialog->evaluate(QString::fromUtf8(kFirstPaint)).toDouble() - sent;
    if (g_profile)
        benchworld::printProfile("a capture dialog from the standby", spare->call(QStringLiteral("Profiler.stop"), {}, kLongMs).value(QStringLiteral("profile")).toObject(), 20);

    // OK: the dialog stores, the host answers, the viewer reloads.
    const QDateTime before = QFileInfo(collection).lastModified();
    const double ok = dialog->evaluate(QStringLiteral("setTimeout(() => document.getElementById('OK').click());"
                                                      " Date.now()"))
                          .toDouble();
    dialog.reset(); // as in a browser's capture, nobody watches the dialog close
    QByteArray answer;
    const bool answered = readAnswer(host, &answer);
    figures->answered = wallClockMs() - ok;
    if (!answered || !answer.contains("\"stored\"")) {
        std::fprintf(stderr, "the capture was not stored: %s\n", answer.mid(4).constData());
        return false;
    }
    const QDateTime after = QFileInfo(collection).lastModified();
    figures->saved = after > before ? double(after.toMSecsSinceEpoch()) - ok : -1;
    if (!turnUntil([&viewer] { return viewer.evaluate(QStringLiteral("benchReloads.length")).toInt() > 0; }, kLongMs)) {
        std::fprintf(stderr, "the viewer did not reload\n");
        return false;
    }
    figures->reloaded = viewer.evaluate(QStringLiteral("benchReloads[0]")).toDouble() - ok;
    host.closeWriteChannel();
    host.waitForFinished(60000);

    // More captures in turns: through the standby, and through a dialog process of its own, as
    // without a viewer; the figures are the medians.
    QList<double> firstPaints{figures->firstPaint}, treesShown{figures->treeShown}, ownFirstPaints, ownTreesShown;
    QProcessEnvironment withoutStandby = environment;
    withoutStandby.insert(QStringLiteral("TAVRELO_CAPTURE_STANDBY"), QStringLiteral("0"));
    for (int i = 0; i < 2 * kSamples - 1; ++i) {
        const bool own = i % 2 == 0;
        if (!own) {
            spare = std::make_unique<DevToolsPage>(standbyPort);
            if (!standbyReady(environment, spare.get()))
                return false;
        }
        if (own && !waitForQuiet())
            return false;
        QProcess next;
        const double nextSent = openDialog(next, own ? withoutStandby : environment, own ? dialogPort : standbyPort,
                                           QStringLiteral("Capture %1 in turns").arg(i), &dialog);
        if (nextSent <= 0)
            return false;
        (own ? ownTreesShown : treesShown) << wallClockMs() - nextSent;
        (own ? ownFirstPaints : firstPaints) << dialog->evaluate(QString::fromUtf8(kFirstPaint)).toDouble() - nextSent;
        dialog->evaluate(QStringLiteral("setTimeout(() => document.getElementById('OK').click()); true"));
        dialog.reset();
        answer.clear();
        if (!readAnswer(next, &answer) || !answer.contains("\"stored\"")) {
            std::fprintf(stderr, "a capture in turns was not stored: %s\n", answer.mid(4).constData());
            return false;
        }
        next.closeWriteChannel();
        next.waitForFinished(60000);
    }
    figures->firstPaint = median(firstPaints);
    figures->treeShown = median(treesShown);
    figures->ownFirstPaint = median(ownFirstPaints);
    figures->ownTreeShown = median(ownTreesShown);
    environment = withoutStandby;
    if (fragments <= kCapturesInARowUpTo) {
        figures->capturesPerSecond = capturesPerSecond(environment, kCapturesInARow);
        if (figures->capturesPerSecond <= 0) {
            std::fprintf(stderr, "a capture in a row was not stored\n");
            return false;
        }
    }
    viewer.evaluate(QStringLiteral("window.close()"));
    turnUntil([&viewer] { return viewer.targets().isEmpty(); }, 60000); // its files are gone before the folder
    return true;
}

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Measures a capture into generated collections with a viewer running."));
    options.addHelpOption();
    options.addOption({QStringLiteral("fragments"), QStringLiteral("Fragments of a collection to measure (repeatable; 1 000 and 100 000 unless given)."),
                       QStringLiteral("M")});
    options.addOption({QStringLiteral("profile"), QStringLiteral("Print a sampled profile of the capture dialog opened by the standby, by self time.")});
    options.process(app);
    g_profile = options.isSet(QStringLiteral("profile"));
    QList<int> sizes;
    for (const QString &value : options.values(QStringLiteral("fragments")))
        sizes << value.toInt();
    if (sizes.isEmpty())
        sizes = {1000, 100000};
    for (const int fragments : sizes) {
        Figures f;
        if (!measure(fragments, &f))
            return 1;
        std::printf("%-54s %9.1f ms\n", "reference: one save of the collection", f.save);
        const auto row = [&f](const char *what, double ms) { std::printf("%-54s %9.1f ms  %7.2fx\n", what, ms, ms / f.save); };
        std::printf("(the dialog's figures are medians of %d captures each)\n", kSamples);
        row("message received -> the dialog's first paint", f.firstPaint);
        row("  a dialog process of its own", f.ownFirstPaint);
        row("message received -> its folder tree shown", f.treeShown);
        row("  a dialog process of its own", f.ownTreeShown);
        std::printf("%-54s %9.1f ms  %7.2fx xmllint --noout (%.0f ms)\n", "  the same against a native parse", f.treeShown,
                    f.treeShown / f.xmllint, f.xmllint);
        row("OK -> the collection file saved", f.saved);
        row("OK -> the host answers the browser", f.answered);
        row("OK -> the running viewer has reloaded", f.reloaded);
        if (f.capturesPerSecond > 0)
            std::printf("%-54s %9.2f /s  (%.0f ms each, %.2fx)\n", "captures per second, one after another, viewer open",
                        f.capturesPerSecond, 1000.0 / f.capturesPerSecond, 1000.0 / f.capturesPerSecond / f.save);
    }
    return 0;
}
