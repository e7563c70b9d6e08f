// How fast the viewer's fragment list answers on a large collection, in the real viewer: the time
// from a folder selection until the first chunk of a folder of many fragments is painted, and the
// markup of every fragment of the collection (the folder filter off), each beside the rebuild of an
// empty folder measured in the same run (best of five each); and when the wait indicator is
// painted during a reload and a save of the whole collection, beside how long each takes.
//
//   list_bench [--folders N] [--fragments M] [--large-folder L]
//
// Needs a display; without one run it under xvfb-run.

#include "support/devtools.h"
#include "viewerworld.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using benchworld::run;

// Measured in the viewer's main page. Each figure is the best of five, in milliseconds.
const char *kMeasure = R"JS(
(async () => { try {
  const tree = fnFrame('ktLeftFrame').document;
  const holder = fnGetQuilletHolder();
  const select = (uin) => tree.querySelector('li[UIN="' + uin + '"] > span').click();
  const painted = () => new Promise((r) => requestAnimationFrame(() => setTimeout(r)));
  // From the click until the first list content is painted.
  const firstPaint = async (uin) => {
    const start = performance.now();
    select(uin);
    await painted();
    if (!holder.firstChild)
      throw new Error('nothing was shown');
    return performance.now() - start;
  };
  const best = async (times, measure) => {
    let low = Infinity;
    for (let i = 0; i < times; i++)
      low = Math.min(low, await measure());
    return low;
  };
  const large = fnGetDatabaseElement(goBase).getElementsByTagNameNS(cxbiNamespace, 'ktNODE')[0];
  // Two empty folders: choosing the folder already shown would rebuild nothing.
  const empties = Array.from(goBase.getElementsByTagNameNS(cxbiNamespace, 'ktNODE')).filter(
    (folder) => !Array.from(folder.children).some((child) => child.nodeName == cxbiFRAGMENT)).slice(0, 2);
  if (empties.length < 2)
    throw new Error('the collection has fewer than two empty folders: give it more folders');
  const largeUIN = large.getAttribute('UIN'), emptyUIN = empties[0].getAttribute('UIN'), otherEmptyUIN = empties[1].getAttribute('UIN');
  const figures = { largeFragments: fnListedFragments(goBase, largeUIN).length,
                    allFragments: goBase.getElementsByTagNameNS(cxbiNamespace, 'ktFRAGMENT').length };
  figures.emptyFolder = await best(5, async () => {
    await firstPaint(otherEmptyUIN);
    return firstPaint(emptyUIN);
  });
  // The large folder, each time coming from the empty one.
  figures.largeFirstChunk = await best(5, async () => {
    await firstPaint(emptyUIN);
    return firstPaint(largeUIN);
  });
  figures.largeChunk = Array.from(holder.querySelectorAll('table.Fragment')).length;
  const params = (uin) => ({ sFolderUIN: uin, nSortBy: gnSortBy, nSortDirection: gnSortDirection, oOptions: fnGetVisibilityOptions() });
  figures.emptyRender = await best(5, async () => {
    const start = performance.now();
    fnRenderFragmentList(goBase, params(emptyUIN));
    return performance.now() - start;
  });
  figures.allRender = await best(5, async () => {
    const start = performance.now();
    figures.allMarkupChars = fnRenderFragmentList(goBase, params(null)).length;
    return performance.now() - start;
  });
  // The filter off: every fragment, the first chunk painted.
  figures.allFirstChunk = await best(5, async () => {
    await firstPaint(otherEmptyUIN);
    await firstPaint(emptyUIN); // the filter is on again
    const start = performance.now();
    fnToggleFolderFilter();
    await painted();
    return performance.now() - start;
  });
  await firstPaint(otherEmptyUIN);
  // Long work on the whole collection: a reload and a save, each made once the wait indicator
  // is painted. When the frame that shows it is made, and when the work is done.
  const longWork = async (work) => {
    const start = performance.now();
    work();
    const shown = fnIsWaitCursorShown();
    const painted = await new Promise((r) => requestAnimationFrame(() => r(performance.now() - start)));
    await new Promise((r) => (function again() { if (fnIsWaitCursorShown() || goPendingSave) setTimeout(again, 20); else r(); })());
    return { shown: shown, painted: painted, done: performance.now() - start };
  };
  figures.reload = await longWork(() => fnLoadFile(gsCurrentPath));
  figures.save = await longWork(() => {
    if (fnPrepareToChangeDatabase() == ktfFailure)
      throw new Error('the change could not begin');
    fnGetDatabaseElement(goBase).setAttribute(cxbiAttName, 'Saved by the benchmark');
    fnSaveChangedDatabase();
  });
  return figures;
} catch (e) { return { error: String(e) }; } })()
)JS";

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Measures the viewer's fragment list on a generated collection."));
    options.addHelpOption();
    options.addOptions({{QStringLiteral("folders"), QStringLiteral("Folders of the collection."), QStringLiteral("N"), QStringLiteral("20000")},
                        {QStringLiteral("fragments"), QStringLiteral("Fragments of the collection."), QStringLiteral("M"), QStringLiteral("100000")},
                        {QStringLiteral("large-folder"), QStringLiteral("Fragments in the one large folder."), QStringLiteral("K"), QStringLiteral("10000")}});
    options.process(app);
    const QString folders = options.value(QStringLiteral("folders")), fragments = options.value(QStringLiteral("fragments")),
                  large = options.value(QStringLiteral("large-folder"));

    QTemporaryDir scratch;
    const QString collection = scratch.filePath(QStringLiteral("large.t-q"));
    const quint16 port = benchworld::freePort();
    const QProcessEnvironment environment = benchworld::environment(scratch, port);

    if (!benchworld::generateCollection(collection, folders, fragments, environment, {QStringLiteral("--large-folder"), large}) ||
        !benchworld::startViewer(collection, environment))
        return 1;
    std::printf("collection: %s folders, %s fragments, %s of them in one folder, %.1f MiB\n", qPrintable(folders),
                qPrintable(fragments), qPrintable(large), static_cast<double>(QFile(collection).size()) / (1024.0 * 1024.0));

    DevToolsPage viewer(port);
    if (!benchworld::attachViewer(viewer, QStringLiteral("large.t-q"))) {
        std::fprintf(stderr, "the viewer did not open the collection\n");
        return 1;
    }
    const QJsonObject figures = viewer.evaluate(QString::fromUtf8(kMeasure), 1200000).toObject();
    viewer.evaluate(QStringLiteral("window.close()"));
    turnUntil([&viewer] { return viewer.targets().isEmpty(); }, 60000); // its files are gone before the folder
    if (figures.isEmpty() || figures.contains(QStringLiteral("error"))) {
        std::fprintf(stderr, "the viewer gave no figures: %s\n", qPrintable(figures.value(QStringLiteral("error")).toString()));
        return 1;
    }
    const double reference = figures.value(QStringLiteral("emptyFolder")).toDouble();
    const double referenceRender = figures.value(QStringLiteral("emptyRender")).toDouble();
    std::printf("%-58s %9.1f ms\n", "reference: select an empty folder, until painted", reference);
    const auto row = [&](const char *what, double ms, double against) {
        std::printf("%-58s %9.1f ms  %7.1fx\n", what, ms, ms / against);
    };
    row(qPrintable(QStringLiteral("select the folder of %1, first chunk (%2) painted")
                       .arg(figures.value(QStringLiteral("largeFragments")).toInt())
                       .arg(figures.value(QStringLiteral("largeChunk")).toInt())),
        figures.value(QStringLiteral("largeFirstChunk")).toDouble(), reference);
    row(qPrintable(QStringLiteral("filter off (%1 fragments), first chunk painted").arg(figures.value(QStringLiteral("allFragments")).toInt())),
        figures.value(QStringLiteral("allFirstChunk")).toDouble(), reference);
    std::printf("%-58s %9.3f ms\n", "reference: markup of an empty folder", referenceRender);
    row(qPrintable(QStringLiteral("markup of every fragment (%1 MiB of text)")
                       .arg(figures.value(QStringLiteral("allMarkupChars")).toDouble() / (1024.0 * 1024.0), 0, 'f', 1)),
        figures.value(QStringLiteral("allRender")).toDouble(), reference);
    for (const char *work : {"reload", "save"}) {
        const QJsonObject timing = figures.value(QLatin1String(work)).toObject();
        const double done = timing.value(QStringLiteral("done")).toDouble();
        std::printf("%-6s the collection: wait indicator %s, painted after %.0f ms of %.0f ms (%.3fx)\n", work,
                    timing.value(QStringLiteral("shown")).toBool() ? "shown at once" : "NOT SHOWN",
                    timing.value(QStringLiteral("painted")).toDouble(), done,
                    timing.value(QStringLiteral("painted")).toDouble() / done);
    }
    std::printf("all figures (ms): %s\n", QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
    return 0;
}
