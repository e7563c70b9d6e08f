// How fast the viewer's search answers on a large collection, in the real viewer: from a query
// typed into the search field until its first results are painted, for the first search after
// the open (which makes the index), a query that matches one fragment and one that matches every
// fragment, each beside the rebuild of an empty folder's list measured in the same run (best of
// five each); the longest the window waits for a key while the first search runs; and what the
// index costs in memory (the page's heap after a garbage collection, before and after).
//
//   search_bench [--folders N] [--fragments M] [--profile]   (20 000 and 100 000: some folders stay empty)
//
// Needs a display; without one run it under xvfb-run.

#include "support/devtools.h"
#include "viewerworld.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

// Defines bench.* in the viewer's main page.
const char *kHelpers = R"JS(
window.bench = (() => {
  const tree = fnFrame('ktLeftFrame').document;
  const holder = fnGetQuilletHolder();
  const painted = () => new Promise((r) => requestAnimationFrame(() => setTimeout(r)));
  const best = async (times, measure) => {
    let low = Infinity;
    for (let i = 0; i < times; i++)
      low = Math.min(low, await measure(i));
    return low;
  };
  const empties = Array.from(goBase.getElementsByTagNameNS(cxbiNamespace, 'ktNODE')).filter(
    (folder) => !Array.from(folder.children).some((child) => child.nodeName == cxbiFRAGMENT)).slice(0, 2).map((f) => f.getAttribute('UIN'));
  const select = async (uin) => {
    const start = performance.now();
    tree.querySelector('li[UIN="' + uin + '"] > span').click();
    await painted();
    return performance.now() - start;
  };
  // Types the query and resolves when its results (or their absence) are painted: {ms, summary}.
  // The longest wait of a timer in between tells how long a key would have waited.
  const type = (query) => new Promise((resolve) => {
    const start = performance.now();
    let last = start, longest = 0, done = false;
    (function tick() { const now = performance.now(); longest = Math.max(longest, now - last); last = now; if (!done) setTimeout(tick); })();
    const observer = new MutationObserver(async () => {
      const summary = holder.querySelector('.SearchSummary, .NoQuillet');
      if (!summary || gsSearchQuery != query)
        return;
      observer.disconnect();
      await painted();
      done = true;
      resolve({ ms: performance.now() - start, summary: summary.textContent, longestWait: longest });
    });
    observer.observe(holder, { childList: true });
    const field = fnGetSearchField();
    field.value = query;
    fnOnSearchInput();
  });
  // A query that finds one fragment: the address of a fragment picked by number.
  const fragments = goBase.getElementsByTagNameNS(cxbiNamespace, 'ktFRAGMENT');
  const rare = (i) => fragments[(i * 7919 + 4001) % fragments.length].getAttribute('BaseURL').replace(/^https:\/\//, '');
  return {
    emptyFolder: () => best(5, async () => { await select(empties[1]); return select(empties[0]); }),
    first: () => type(rare(0)),
    rare: () => best(5, async (i) => (await type(rare(i + 1))).ms),
    everything: async () => { let summary = ''; const ms = await best(5, async (i) => { const r = await type(i % 2 ? 'example' : 'EXAMPLE'); summary = r.summary; return r.ms; }); return { ms, summary }; },
    end: () => { fnGetSearchField().value = ''; fnOnSearchInput(); return true; },
    indexChars: () => goSearchIndex ? goSearchIndex.sText.length : 0,
  };
})(), true
)JS";

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Measures the viewer's search on a generated collection."));
    options.addHelpOption();
    const QCommandLineOption profile(QStringLiteral("profile"), QStringLiteral("Print where the first search spends its time."));
    options.addOption(profile);
    benchworld::addCollectionOptions(options, "20000", "100000");
    options.process(app);

    QTemporaryDir scratch;
    const QString collection = scratch.filePath(QStringLiteral("large.t-q"));
    const quint16 port = benchworld::freePort();
    const QProcessEnvironment environment = benchworld::environment(scratch, port);
    if (!benchworld::generateCollection(collection, options.value(QStringLiteral("folders")), options.value(QStringLiteral("fragments")),
                                        environment) ||
        !benchworld::startViewer(collection, environment))
        return 1;
    std::printf("collection: %s folders, %s fragments, %.1f MiB\n", qPrintable(options.value(QStringLiteral("folders"))),
                qPrintable(options.value(QStringLiteral("fragments"))), double(QFile(collection).size()) / (1024.0 * 1024.0));

    DevToolsPage viewer(port);
    if (!benchworld::attachViewer(viewer, QStringLiteral("large.t-q")) || !viewer.evaluate(QString::fromUtf8(kHelpers)).toBool()) {
        std::fprintf(stderr, "the viewer did not open the collection\n");
        return 1;
    }
    constexpr int kLongMs = 1200000;
    const auto figures = [&](const char *call) { return viewer.evaluate(QStringLiteral("bench.%1()").arg(QLatin1String(call)), kLongMs); };
    const double reference = figures("emptyFolder").toDouble();
    const double heapBefore = benchworld::heapMiB(viewer);
    if (options.isSet(profile)) {
        viewer.call(QStringLiteral("Profiler.enable"), {});
        viewer.call(QStringLiteral("Profiler.start"), {});
    }
    const QJsonObject first = figures("first").toObject();
    if (options.isSet(profile))
        benchworld::printProfile("the first search", viewer.call(QStringLiteral("Profiler.stop"), {}, kLongMs).value(QStringLiteral("profile")).toObject(), 15);
    const double heapWithIndex = (figures("end"), benchworld::heapMiB(viewer));
    const double indexChars = figures("indexChars").toDouble();
    const double rare = figures("rare").toDouble();
    const QJsonObject everything = figures("everything").toObject();
    viewer.evaluate(QStringLiteral("window.close()"));
    turnUntil([&viewer] { return viewer.targets().isEmpty(); }, 60000); // its files are gone before the folder

    std::printf("%-60s %9.1f ms\n", "reference: select an empty folder, until painted", reference);
    const auto row = [&](const QString &what, double ms) { std::printf("%-60s %9.1f ms  %7.1fx\n", qPrintable(what), ms, ms / reference); };
    row(QStringLiteral("first search after the open (%1), results painted").arg(first.value(QStringLiteral("summary")).toString()),
        first.value(QStringLiteral("ms")).toDouble());
    row(QStringLiteral("  the longest a key waited meanwhile"), first.value(QStringLiteral("longestWait")).toDouble());
    row(QStringLiteral("a query that finds one fragment, results painted"), rare);
    row(QStringLiteral("a query that finds all (%1), first chunk painted").arg(everything.value(QStringLiteral("summary")).toString()),
        everything.value(QStringLiteral("ms")).toDouble());
    std::printf("the index: %.1f MiB of the page's heap (%.1f MiB before, %.1f MiB with it), %.1f M characters of text\n",
                heapWithIndex - heapBefore, heapBefore, heapWithIndex, indexChars / 1e6);
    return 0;
}
