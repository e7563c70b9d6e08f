// How long the pages take to open, save and change a large collection through the store, in the
// real engine, each beside the part of the engine's own work it is measured against (its parse
// and its serialisation of the same collection, measured by the same page in the same run), and
// two references outside the engine: a native parse (xmllint --noout) and a plain copy (cp).
//
//   store_bench [--folders N] [--fragments M]

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

// The best of three runs of a command, in milliseconds; negative when it fails.
double bestOfThree(const QString &program, const QStringList &arguments)
{
    double best = -1;
    for (int run = 0; run < 3; ++run) {
        QProcess process;
        QElapsedTimer timer;
        timer.start();
        process.start(program, arguments);
        if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
            return -1;
        }
        const double spent = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        best = best < 0 ? spent : std::min(best, spent);
    }
    return best;
}

bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(1200000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    const QByteArray text = process.readAll();
    if (output)
        *output = text;
    if (!ok)
        std::fprintf(stderr, "%s failed:\n%s\n", qPrintable(program), text.constData());
    return ok;
}

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Measures opening and saving a generated collection through the store."));
    options.addHelpOption();
    options.addOptions({{QStringLiteral("folders"), QStringLiteral("Folders of the collection."), QStringLiteral("N"), QStringLiteral("10000")},
                        {QStringLiteral("fragments"), QStringLiteral("Fragments of the collection."), QStringLiteral("M"), QStringLiteral("100000")}});
    options.process(app);
    const QString folders = options.value(QStringLiteral("folders")), fragments = options.value(QStringLiteral("fragments"));

    QTemporaryDir scratch;
    const QString source = scratch.filePath(QStringLiteral("large.t-q"));
    const QString saved = scratch.filePath(QStringLiteral("saved.t-q"));
    if (!run(QStringLiteral(COLLECTION_GENERATOR), {QStringLiteral("--folders"), folders, QStringLiteral("--fragments"),
                                                   fragments, source}))
        return 1;
    const double megabytes = static_cast<double>(QFileInfo(source).size()) / (1024.0 * 1024.0);
    std::printf("collection: %s folders, %s fragments, %.1f MiB\n", qPrintable(folders), qPrintable(fragments), megabytes);

    const double xmllint = bestOfThree(QStringLiteral("xmllint"), {QStringLiteral("--noout"), source});
    const double cp = bestOfThree(QStringLiteral("cp"), {source, scratch.filePath(QStringLiteral("copy.t-q"))});
    if (xmllint <= 0 || cp <= 0)
        return 1;

    // The page runs in a window: without a display, in a virtual one.
    QString program = QStringLiteral(PAGE_TEST_RUNNER);
    QStringList prefix;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        prefix = {QStringLiteral("-a"), program};
        program = QStringLiteral("xvfb-run");
    }
    // Each step of the page collects the garbage of the steps before it first (gc()), so that
    // none pays for another's.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --js-flags=--expose-gc");
    QByteArray output;
    if (!run(program, prefix + QStringList
             {QStringLiteral("--host"), QStringLiteral(HTAHOST), QStringLiteral("--regsvr"), QStringLiteral(REGSVR),
              QStringLiteral("--helpers"), QStringLiteral(HELPERS), QStringLiteral("--pages"), QStringLiteral(PAGES),
              QStringLiteral("--page"), QStringLiteral("store_bench.hta"), QStringLiteral("--timeout"),
              QStringLiteral("1200"), QStringLiteral("--page-argument"), source, QStringLiteral("--page-argument"), saved},
             &output))
        return 1;
    const qsizetype at = output.indexOf("BENCH ");
    const QJsonObject figures =
        QJsonDocument::fromJson(output.mid(at + 6, output.indexOf('\n', at) - at - 6)).object();
    if (at < 0 || figures.isEmpty()) {
        std::fprintf(stderr, "the page gave no figures:\n%s\n", output.constData());
        return 1;
    }

    const auto figure = [&](const char *name) { return figures.value(QLatin1String(name)).toDouble(); };
    const double parse = figure("parse"), serialize = figure("serialize"), write = figure("write");
    std::printf("%-52s %9.0f ms\n", "reference: xmllint --noout (native parse)", xmllint);
    std::printf("%-52s %9.0f ms\n", "reference: cp (copy)", cp);
    std::printf("%-52s %9.0f ms  %5.2fx xmllint\n", "reference: the engine's parse (DOMParser)", parse, parse / xmllint);
    std::printf("%-52s %9.0f ms  %5.2fx xmllint\n", "reference: the engine's serialisation (XMLSerializer)", serialize,
                serialize / xmllint);
    // Each step beside the part of the engine's work it is measured against.
    const auto row = [](const char *what, double ms, double reference, const char *against, double goal) {
        std::printf("%-52s %9.0f ms  %5.2fx %s (at most %.2fx)\n", what, ms, ms / reference, against, goal);
    };
    row("read the text into the page", figure("read"), parse, "parse", 0.25);
    row("write the text, atomically and flushed", write, serialize, "serialisation", 0.5);
    row("a change whose disk copy is the page's own", figure("change"), serialize + write, "(serialisation + write)", 1.3);
    row("open + save", figure("open") + figure("save"), parse + serialize, "(parse + serialisation)", 1.4);
    std::printf("%-52s %9.0f ms  %5.2fx (parse + serialisation + write)\n", "a change after an outside write (full check)",
                figure("changeAfterOutsideWrite"), figure("changeAfterOutsideWrite") / (parse + serialize + write));
    std::printf("%-52s %9.0f ms  %9.0f ms\n", "open, save", figure("open"), figure("save"));
    const double lockFile = figure("lockBoth") - figure("lockFirst");
    std::printf("%-52s %9.3f ms  %5.3fx a change (%.3f ms for both locks)\n", "the lock file beside the collection, per change",
                lockFile, lockFile / figure("change"), figure("lockBoth"));
    std::printf("elements with identifiers: %d\nall figures (ms): %s\n", figures.value(QStringLiteral("elements")).toInt(),
                QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
    return 0;
}
