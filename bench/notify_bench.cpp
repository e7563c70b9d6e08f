// Fan-out of one change notification to 1, 4 and 16 running pages: the time from the send until
// the last page's handler has run, beside the cost of one synchronous bridge call measured in
// the same run. Run it with a display (or under xvfb-run -a).
//
//   notify_bench [--rounds N]

#include "object/quillet.h"

#include <QCommandLineParser>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

double nowMs()
{
    using namespace std::chrono;
    return double(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count()) / 1000.0;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, std::size_t(p * double(values.size()))));
}

// A host running the benchmark page with some frames; collects what the pages log.
struct Host {
    QProcess process;
    QByteArray pending;
    bool ready = false;
    std::vector<double> callMs;
};

bool turnUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

bool registerLibrary(const QString &library)
{
    QProcess regsvr;
    regsvr.start(QStringLiteral(REGSVR), {QStringLiteral("-s"), library});
    return regsvr.waitForFinished(30000) && regsvr.exitCode() == 0;
}

}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Measures the fan-out of a change notification to running pages."));
    options.addHelpOption();
    options.addOption({QStringLiteral("rounds"), QStringLiteral("Rounds of each setup."), QStringLiteral("R"), QStringLiteral("30")});
    options.process(app);
    const int rounds = std::max(1, options.value(QStringLiteral("rounds")).toInt());

    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/nb-XXXXXX")); // short: socket paths
    for (const char *folder : {"registry", "runtime", "files"})
        QDir(scratch.path()).mkpath(QLatin1String(folder));
    qputenv("TAVRELO_REGISTRY_DIR", scratch.filePath(QStringLiteral("registry")).toUtf8());
    qputenv("TAVRELO_RUNTIME_DIR", scratch.filePath(QStringLiteral("runtime")).toUtf8());
    qputenv("TAVRELO_AUTOMATION", scratch.filePath(QStringLiteral("answers.jsonl")).toUtf8());
    if (!registerLibrary(QStringLiteral(HELPERS)) || !registerLibrary(QStringLiteral(PAGES))) {
        std::fprintf(stderr, "cannot register the libraries\n");
        return 1;
    }
    const ComPtr<Quillet> sender = Quillet::create();

    std::printf("change notification fan-out, %d rounds each, median (90th percentile)\n", rounds);
    std::printf("%-8s %-14s %-22s %-22s\n", "pages", "hosts x pages", "until the last handler", "against one bridge call");
    struct Setup {
        int hosts, pagesPerHost;
    };
    for (const Setup setup : {Setup{1, 1}, Setup{4, 1}, Setup{4, 4}}) {
        const int pages = setup.hosts * setup.pagesPerHost;
        std::vector<std::unique_ptr<Host>> hosts;
        std::vector<double> heard; // handler times of the current round
        QString round;
        for (int h = 0; h < setup.hosts; ++h) {
            auto host = std::make_unique<Host>();
            Host *run = host.get();
            QObject::connect(&run->process, &QProcess::readyReadStandardError, &app, [&, run] {
                run->pending += run->process.readAllStandardError();
                qsizetype end;
                while ((end = run->pending.indexOf('\n')) >= 0) {
                    const QList<QByteArray> words = run->pending.left(end).split(' ');
                    run->pending.remove(0, end + 1);
                    const qsizetype at = words.indexOf("BENCH");
                    if (at < 0)
                        continue;
                    const QByteArray kind = words.value(at + 1);
                    if (kind == "ready")
                        run->ready = true;
                    else if (kind == "call")
                        run->callMs.push_back(words.value(at + 2).toDouble());
                    else if (kind == "heard" && QString::fromUtf8(words.value(at + 2)) == round)
                        heard.push_back(words.value(at + 3).toDouble());
                }
            });
            run->process.start(QStringLiteral(HTAHOST),
                               {QStringLiteral("res://%1/notify_bench.hta").arg(QStringLiteral(PAGES)), scratch.path(),
                                QStringLiteral(HELPERS), QString::number(setup.pagesPerHost)});
            hosts.push_back(std::move(host));
        }
        if (!turnUntil([&] { return std::ranges::all_of(hosts, [](const auto &h) { return h->ready; }); }, 120000)) {
            std::fprintf(stderr, "the pages did not start\n");
            return 1;
        }
        std::vector<double> latencies;
        for (int r = 0; r < rounds; ++r) {
            round = QStringLiteral("/bench/round-%1-%2").arg(pages).arg(r);
            heard.clear();
            const double sent = nowMs();
            sender->DoSendChangeNotification(round, -1);
            if (!turnUntil([&] { return heard.size() == std::size_t(pages); }, 60000)) {
                std::fprintf(stderr, "round %d: %zu of %d pages heard it\n", r, heard.size(), pages);
                return 1;
            }
            latencies.push_back(*std::max_element(heard.begin(), heard.end()) - sent);
        }
        std::vector<double> calls;
        for (const auto &host : hosts)
            calls.insert(calls.end(), host->callMs.begin(), host->callMs.end());
        const double call = percentile(calls, 0.5);
        const double median = percentile(latencies, 0.5), p90 = percentile(latencies, 0.9);
        std::printf("%-8d %-14s %7.2f ms (%6.2f ms)    %6.1fx (%5.1fx), call %.3f ms\n", pages,
                    qPrintable(QStringLiteral("%1 x %2").arg(setup.hosts).arg(setup.pagesPerHost)), median, p90,
                    median / call, p90 / call, call);
        std::fflush(stdout);
        for (const auto &host : hosts)
            host->process.terminate();
        for (const auto &host : hosts)
            host->process.waitForFinished(30000);
    }
    return 0;
}
