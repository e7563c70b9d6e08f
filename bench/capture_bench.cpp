// How long a capture takes on a large collection, through the real native-messaging host, the real
// capture dialog and a running viewer: from the host receiving the browser's message until the
// dialog's first paint (and until its folder tree shows), and from OK until the file is saved and
// the viewer has reloaded it; and how many captures per second go into the collection one after
// another, each through a host and a dialog of its own, OK pressed as soon as the folder tree
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
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kLongMs = 1200000;

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
};

// Captures in a row for the throughput figure (on collections up to this size: the largest ones
// would take minutes).
constexpr int kCapturesInARow = 10;
constexpr int kCapturesInARowUpTo = 10000;

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
    const quint16 viewerPort = freePort(), dialogPort = freePort();
    QProcessEnvironment environment = benchworld::environment(scratch, viewerPort);
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

    // The browser's message, as the extension sends it.
    environment.insert(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"), QStringLiteral("127.0.0.1:%1").arg(dialogPort));
    QProcess host;
    host.setProcessEnvironment(environment);
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.setReadChannel(QProcess::StandardOutput);
    host.start(QStringLiteral(NATIVE_HOST), {QStringLiteral("chrome-extension://bench/")});
    if (!host.waitForStarted())
        return false;
    const double sent = wallClockMs();
    host.write(frame(grabMessage(QStringLiteral("A selection\r\nof two lines"))));
    auto dialog = std::make_unique<DevToolsPage>(dialogPort);
    if (!dialog->attach(QStringLiteral("/ktGrab.htm")) ||
        !turnUntil([&dialog] { return dialog->evaluate(QString::fromUtf8(kTreeShown)).toBool(); }, kLongMs)) {
        std::fprintf(stderr, "the capture dialog did not show its folder tree\n");
        return false;
    }
    figures->treeShown = wallClockMs() - sent;
    figures->firstPaint = dialog->evaluate(QString::fromUtf8(kFirstPaint)).toDouble() - sent;

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
    options.process(app);
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
        row("message received -> the dialog's first paint", f.firstPaint);
        row("message received -> its folder tree shown", f.treeShown);
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
