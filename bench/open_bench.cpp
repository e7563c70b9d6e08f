// How long a user waits for a large collection in the real viewer: a whole open (lock, read,
// parse, checks, identifiers, folder tree) and the reload after another program replaced the
// file (as another instance's save does; the viewer's file watch starts it), each beside
// `xmllint --noout` of the same file and the engine's own parse in the same run; the viewer's
// resident memory after each of five reloads; what the wait indicator costs while it is on the
// screen; and, with --profile, where an open spends its time.
//
//   open_bench [--folders N] [--fragments M] [--profile]
//
// Needs a display; without one run it under xvfb-run.

#include "support/devtools.h"
#include "viewerworld.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <optional>

namespace {

constexpr int kLongMs = 1200000;

// Installed in the viewer's page: bench.parse(), bench.frameParse(), bench.open(), bench.reloadAfter(epochMs),
// bench.phases().
const char *kHelpers = R"JS(
window.bench = (() => {
  const done = () => new Promise((r) => (function again() {
    if (!gbLoadingInBackground && !fnIsWaitCursorShown()) r(); else setTimeout(again, 5);
  })());
  let shownAt = 0; // when a load last showed its collection (epoch ms)
  const show = fnShowReadCollection, read = fnReadFileNow;
  fnShowReadCollection = (...a) => { show(...a); shownAt = Date.now(); };
  fnReadFileNow = (...a) => { bench.reads++; return read(...a); };
  // The time of each stage of the last load (ms), by the page's functions that make it.
  const phases = {};
  const timed = (name, key) => {
    const inner = window[name];
    window[name] = function (...a) {
      const start = performance.now();
      const result = inner.apply(this, a);
      const end = () => { phases[key] = performance.now() - start; };
      if (result && typeof result.then == 'function')
        result.then(end, end);
      else
        end();
      return result;
    };
  };
  timed('fnCheckedInitializeFileAsync', 'read, parse and checks');
  timed('fnGiveMissingUINs', 'identifiers');
  timed('fnRenderFolderTree', 'tree markup');
  timed('fnShowLoadedTree', 'tree shown');
  return {
    phases: () => JSON.stringify(phases),
    reads: 0, // the collection's reads, of opens and reloads
    // The engine's parse of the collection's text alone, best of two (the text flat already).
    parse: () => {
      const text = __tavreloHost.readTextFile(gsCurrentPath);
      /^\s*$/.test(text);
      let best = Infinity;
      for (let i = 0; i < 2; i++) {
        if (typeof gc === 'function') gc();
        const start = performance.now();
        new DOMParser().parseFromString(text, 'application/xml');
        best = Math.min(best, performance.now() - start);
      }
      return best;
    },
    // The engine's read and parse of the file as a document of its own frame, as an open has
    // it parsed (best of two): what an open waits for before any of its own work.
    frameParse: async () => {
      let best = Infinity;
      for (let i = 0; i < 2; i++) {
        if (typeof gc === 'function') gc();
        const start = performance.now();
        const read = await __tavreloHost.readFileDocument(gsCurrentPath);
        best = Math.min(best, performance.now() - start);
        if (!read)
          throw new Error('the file was not parsed as a document');
        read.release();
      }
      return best;
    },
    open: async () => {
      const start = performance.now();
      fnLoadFile(gsCurrentPath, true);
      await done();
      if (!gbCollectionOpen)
        throw new Error('the collection did not open');
      return performance.now() - start;
    },
    // From the replacement of the file at `since` until the viewer has shown it again.
    reloadAfter: async (since) => {
      await new Promise((r) => (function again() { if (shownAt >= since) r(); else setTimeout(again, 5); })());
      await done();
      return shownAt - since;
    },
  };
})(), true
)JS";

// Writes the collection again with its stamp advanced, replacing it by a rename as a save does.
// `replaced`: when the new file took the old one's place (epoch ms).
bool replaceWithNextStamp(const QString &path, int round, qint64 *replaced)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QByteArray text = in.readAll();
    static const QRegularExpression stamp(QStringLiteral("TimeStamp=\"(\\d+)\""));
    const QRegularExpressionMatch match = stamp.match(QString::fromLatin1(text.left(4096)));
    if (!match.hasMatch())
        return false;
    text.replace(match.capturedStart(), match.capturedLength(),
                 QStringLiteral("TimeStamp=\"%1\"").arg(match.captured(1).toInt() + 1).toLatin1());
    text.replace("Name=\"", QStringLiteral("Name=\"%1 ").arg(round).toLatin1().constData()); // a change of every name
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
        return false;
    const bool committed = out.commit();
    *replaced = QDateTime::currentMSecsSinceEpoch();
    return committed;
}

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Measures opening and reloading a generated collection in the viewer."));
    options.addHelpOption();
    const QCommandLineOption profile(QStringLiteral("profile"), QStringLiteral("Print where an open spends its time."));
    options.addOption(profile);
    benchworld::addCollectionOptions(options, "10000", "100000");
    options.process(app);

    QTemporaryDir scratch;
    const QString collection = scratch.filePath(QStringLiteral("large.t-q"));
    const quint16 port = benchworld::freePort();
    QProcessEnvironment environment = benchworld::environment(scratch, port);
    // The page's reference parse collects garbage first (gc()).
    environment.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
                       environment.value(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS")) + QStringLiteral(" --js-flags=--expose-gc"));
    if (!benchworld::generateCollection(collection, options.value(QStringLiteral("folders")), options.value(QStringLiteral("fragments")),
                                        environment))
        return 1;
    const double xmllint = benchworld::bestOfThree(QStringLiteral("xmllint"), {QStringLiteral("--noout"), collection});
    if (xmllint <= 0 || !benchworld::startViewer(collection, environment))
        return 1;
    std::printf("collection: %s folders, %s fragments, %.1f MiB\n", qPrintable(options.value(QStringLiteral("folders"))),
                qPrintable(options.value(QStringLiteral("fragments"))), double(QFile(collection).size()) / (1024.0 * 1024.0));

    DevToolsPage viewer(port);
    if (!benchworld::attachViewer(viewer, QStringLiteral("large.t-q")) || !viewer.evaluate(QString::fromUtf8(kHelpers)).toBool()) {
        std::fprintf(stderr, "the viewer did not open the collection\n");
        return 1;
    }
    const auto figure = [&](const QString &call) { return viewer.evaluate(QStringLiteral("bench.") + call, kLongMs).toDouble(); };
    const double parse = figure(QStringLiteral("parse()"));
    const double frameParse = figure(QStringLiteral("frameParse()"));
    // The faster of two opens, with the time of its stages.
    double open = 0;
    QJsonObject phases;
    for (int i = 0; i < 2; ++i) {
        const double ms = figure(QStringLiteral("open()"));
        if (i == 0 || ms < open) {
            open = ms;
            phases = QJsonDocument::fromJson(viewer.evaluate(QStringLiteral("bench.phases()")).toString().toUtf8()).object();
        }
    }
    if (options.isSet(profile)) {
        viewer.call(QStringLiteral("Profiler.enable"), {});
        viewer.call(QStringLiteral("Profiler.start"), {});
        figure(QStringLiteral("open()"));
        benchworld::printProfile("an open", viewer.call(QStringLiteral("Profiler.stop"), {}, kLongMs).value(QStringLiteral("profile")).toObject(), 15);
    }
    // The timed reloads come first: a garbage collection forced for the memory figures leaves
    // the engine's heap to be grown again by the next parse, which made the reload after it up
    // to twice as long.
    QList<double> reloads, resident;
    const int readsBefore = viewer.evaluate(QStringLiteral("bench.reads")).toInt();
    int round = 0;
    const auto reload = [&]() -> std::optional<double> {
        qint64 since = 0;
        if (!replaceWithNextStamp(collection, ++round, &since)) {
            std::fprintf(stderr, "the collection could not be replaced\n");
            return std::nullopt;
        }
        return figure(QStringLiteral("reloadAfter(%1)").arg(since));
    };
    for (int timed = 0; timed < 5; ++timed) {
        const bool profiled = options.isSet(profile) && timed == 0;
        if (profiled)
            viewer.call(QStringLiteral("Profiler.start"), {});
        const std::optional<double> ms = reload();
        if (!ms)
            return 1;
        reloads.append(*ms);
        if (profiled)
            benchworld::printProfile("a reload", viewer.call(QStringLiteral("Profiler.stop"), {}, kLongMs).value(QStringLiteral("profile")).toObject(), 15);
    }
    const int reloadReads = viewer.evaluate(QStringLiteral("bench.reads")).toInt() - readsBefore;
    // Then the memory, after the collection's garbage of each round was collected.
    benchworld::heapMiB(viewer);
    resident.append(benchworld::residentMiB(scratch));
    for (int measured = 0; measured < 5; ++measured) {
        if (!reload())
            return 1;
        benchworld::heapMiB(viewer);
        resident.append(benchworld::residentMiB(scratch));
    }
    // What the wait indicator costs while it is on the screen, with the page idle: the
    // processor time of the viewer's processes in 3 s with it and without it.
    const auto idleSeconds = [&](bool indicator) {
        viewer.evaluate(indicator ? QStringLiteral("fnShowWaitCursor(); true") : QStringLiteral("true"));
        const double before = benchworld::processorSeconds(scratch);
        QThread::sleep(3);
        const double taken = benchworld::processorSeconds(scratch) - before;
        viewer.evaluate(QStringLiteral("fnHideWaitCursor(); true"));
        return taken;
    };
    const double withIndicator = idleSeconds(true), withoutIndicator = idleSeconds(false);
    viewer.evaluate(QStringLiteral("window.close()"));
    turnUntil([&viewer] { return viewer.targets().isEmpty(); }, 60000); // its files are gone before the folder

    std::printf("%-62s %9.0f ms\n", "reference: xmllint --noout", xmllint);
    std::printf("%-62s %9.0f ms  %5.2fx xmllint\n", "reference: the engine's parse of the text (DOMParser)", parse, parse / xmllint);
    std::printf("%-62s %9.0f ms  %5.2fx xmllint\n", "reference: the engine's read and parse of the file in a frame", frameParse,
                frameParse / xmllint);
    std::printf("%-62s %9.0f ms  %5.2fx xmllint (at most 2.0x)\n", "a whole open: lock, read, parse, checks, identifiers, tree", open,
                open / xmllint);
    std::printf("%-62s %9.0f ms  %5.2fx the parse (at most 0.5x)\n", "  of it, everything but the engine's parse", open - parse,
                (open - parse) / parse);
    std::printf("%-62s %9.0f ms  %5.2fx the frame's read and parse\n", "  of it, everything but the frame's read and parse",
                open - frameParse, (open - frameParse) / frameParse);
    std::printf("  its stages:\n");
    for (auto phase = phases.constBegin(); phase != phases.constEnd(); ++phase)
        std::printf("    %-58s %9.0f ms\n", qPrintable(phase.key()), phase.value().toDouble());
    const double bestReload = *std::min_element(reloads.cbegin(), reloads.cend());
    std::printf("%-62s %9.0f ms  %5.2fx xmllint (at most 2.2x)\n", "reload after another program replaced the file (best of 5)",
                bestReload, bestReload / xmllint);
    std::printf("resident memory of the viewer's processes (MiB): with the collection open %.0f, after each of 5 more reloads", resident.first());
    for (qsizetype i = 1; i < resident.size(); ++i)
        std::printf(" %.0f", resident.at(i));
    std::printf("\nthe page idle for 3 s, processor time of the viewer's processes: %.2f s with the wait indicator on the screen, "
                "%.2f s without it\n", withIndicator, withoutIndicator);
    std::printf("reloads (ms):");
    for (const double ms : reloads)
        std::printf(" %.0f", ms);
    std::printf(", %d reads of the file for %lld replacements\n", reloadReads, static_cast<long long>(reloads.size()));
    return 0;
}
