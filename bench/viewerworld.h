#pragma once

// What the benchmarks that run the real viewer share: a scratch world of their own (home,
// private registry and runtime folder, user-interface answers) and the programs they start.

#include "support/devtools.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace benchworld {

// Runs a program to its end (up to 20 minutes); true when it ended with status 0.
inline bool run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(1200000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (!ok)
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
    return ok;
}

// Writes a generated collection of `folders` and `fragments` (and the generator's `more` options).
inline bool generateCollection(const QString &collection, const QString &folders, const QString &fragments,
                               const QProcessEnvironment &environment, const QStringList &more = {})
{
    return run(QStringLiteral(COLLECTION_GENERATOR),
               QStringList{QStringLiteral("--folders"), folders, QStringLiteral("--fragments"), fragments} + more + QStringList{collection},
               environment);
}

// Registers the helpers and starts the viewer (through Clipvane) on the collection.
inline bool startViewer(const QString &collection, const QProcessEnvironment &environment)
{
    return run(QStringLiteral(REGSVR), {QStringLiteral("-s"), QStringLiteral(HELPERS)}, environment) &&
           run(QStringLiteral(CLIPVANE_LAUNCHER), {collection}, environment);
}

// The shortest of three runs of a program, in milliseconds; 0 when it failed.
inline double bestOfThree(const QString &program, const QStringList &arguments)
{
    double best = 0;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!run(program, arguments, QProcessEnvironment::systemEnvironment()))
            return 0;
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        best = i ? std::min(best, ms) : ms;
    }
    return best;
}

// The options of the generated collection, with their defaults.
inline void addCollectionOptions(QCommandLineParser &options, const char *folders, const char *fragments)
{
    options.addOptions({{QStringLiteral("folders"), QStringLiteral("Folders of the collection."), QStringLiteral("N"), QString::fromLatin1(folders)},
                        {QStringLiteral("fragments"), QStringLiteral("Fragments of the collection."), QStringLiteral("M"), QString::fromLatin1(fragments)}});
}

// A free port on the loopback interface, for a DevTools server.
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// `count` free ports, all different: each is held while the next is found (a port just closed
// may be handed out again at once).
inline QList<quint16> freePorts(int count)
{
    std::vector<std::unique_ptr<QTcpServer>> probes;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        probes.push_back(std::make_unique<QTcpServer>());
        probes.back()->listen(QHostAddress::LocalHost);
        ports << probes.back()->serverPort();
    }
    return ports;
}

// The environment of programs that live in `scratch`: its folders home, registry and runtime are
// made, pages serve DevTools on `devToolsPort`, and the viewer keeps no capture standby.
inline QProcessEnvironment environment(const QTemporaryDir &scratch, quint16 devToolsPort)
{
    for (const char *folder : {"home", "registry", "runtime"})
        QDir(scratch.path()).mkpath(QString::fromLatin1(folder));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), scratch.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("TAVRELO_REGISTRY_DIR"), scratch.filePath(QStringLiteral("registry")));
    environment.insert(QStringLiteral("TAVRELO_RUNTIME_DIR"), scratch.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("TAVRELO_AUTOMATION"), scratch.filePath(QStringLiteral("answers.jsonl")));
    environment.insert(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"), QStringLiteral("127.0.0.1:%1").arg(devToolsPort));
    // The capture standby's start, once after the viewer's page has loaded, is not in the
    // viewer's figures; the capture benchmark turns it on.
    environment.insert(QStringLiteral("TAVRELO_CAPTURE_STANDBY"), QStringLiteral("0"));
    return environment;
}

// Waits until the viewer's window shows the collection `fileName` and attaches to its page.
inline bool attachViewer(DevToolsPage &viewer, const QString &fileName)
{
    const bool open = turnUntil([&] {
        for (const QJsonObject &page : viewer.targets())
            if (page.value(QStringLiteral("title")).toString().contains(fileName))
                return true;
        return false;
    }, 1200000);
    return open && viewer.attach(QStringLiteral("/TavTracker.hta"));
}

// The functions that took the most time of a sampled profile (Profiler.stop's), by self time.
inline void printProfile(const char *what, const QJsonObject &profile, int rows)
{
    QHash<QString, double> selfMs;
    const QJsonArray nodes = profile.value(QStringLiteral("nodes")).toArray();
    const QJsonArray deltas = profile.value(QStringLiteral("timeDeltas")).toArray();
    const QJsonArray samples = profile.value(QStringLiteral("samples")).toArray();
    QHash<int, QString> nameOf;
    for (const QJsonValue &node : nodes) {
        const QJsonObject frame = node.toObject().value(QStringLiteral("callFrame")).toObject();
        QString name = frame.value(QStringLiteral("functionName")).toString();
        const QString url = frame.value(QStringLiteral("url")).toString().section(u'/', -1);
        nameOf.insert(node.toObject().value(QStringLiteral("id")).toInt(),
                      (name.isEmpty() ? QStringLiteral("(anonymous)") : name) + (url.isEmpty() ? QString() : u' ' + url));
    }
    double total = 0;
    for (qsizetype i = 0; i < samples.size() && i < deltas.size(); ++i) {
        const double ms = deltas.at(i).toDouble() / 1000.0;
        selfMs[nameOf.value(samples.at(i).toInt())] += ms;
        total += ms;
    }
    QList<std::pair<double, QString>> sorted;
    for (auto it = selfMs.cbegin(); it != selfMs.cend(); ++it)
        sorted.append({it.value(), it.key()});
    std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    std::printf("profile of %s, by self time (%.0f ms sampled):\n", what, total);
    for (qsizetype i = 0; i < sorted.size() && i < rows; ++i)
        std::printf("  %5.1f %%  %8.1f ms  %s\n", 100.0 * sorted[i].first / total, sorted[i].first, qPrintable(sorted[i].second));
}

// The page's script heap after a garbage collection, in MiB.
inline double heapMiB(DevToolsPage &viewer)
{
    viewer.call(QStringLiteral("HeapProfiler.collectGarbage"), {}, 600000);
    return viewer.call(QStringLiteral("Runtime.getHeapUsage"), {}).value(QStringLiteral("usedSize")).toDouble() / (1024.0 * 1024.0);
}

// A file of a process's folder under /proc; empty when the process has gone.
inline QByteArray processFile(long pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The number after `name:` in a process's status file; -1 when it has none.
inline long statusField(const QByteArray &status, const char *name)
{
    const QByteArray key = QByteArray(name) + ':';
    const qsizetype at = status.startsWith(key) ? 0 : status.indexOf(QByteArray('\n' + key));
    const qsizetype value = status.startsWith(key) ? key.size() : at + 1 + key.size();
    return at < 0 ? -1L : status.mid(value, 32).simplified().split(' ').first().toLong();
}

// The hosts started in this world (by their runtime folder) and all their child processes, the
// engine's among them: their process numbers.
inline QList<long> worldProcesses(const QTemporaryDir &scratch)
{
    const QByteArray runtime = "TAVRELO_RUNTIME_DIR=" + QFile::encodeName(scratch.filePath(QStringLiteral("runtime")));
    QHash<long, long> parentOf;
    QList<long> hosts;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const long pid = entry.toLong(&number);
        const QByteArray status = number ? processFile(pid, "status") : QByteArray();
        if (status.isEmpty())
            continue;
        parentOf.insert(pid, statusField(status, "PPid"));
        if (processFile(pid, "comm").trimmed() == "htahost" && processFile(pid, "environ").split('\0').contains(runtime))
            hosts.append(pid);
    }
    QList<long> world;
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it)
        for (long pid = it.key(); pid > 1; pid = parentOf.value(pid, 0))
            if (hosts.contains(pid)) {
                world.append(it.key());
                break;
            }
    return world;
}

// The resident memory of the world's processes, in MiB.
inline double residentMiB(const QTemporaryDir &scratch)
{
    long kib = 0;
    for (const long pid : worldProcesses(scratch))
        kib += std::max(0L, statusField(processFile(pid, "status"), "VmRSS"));
    return double(kib) / 1024.0;
}

// The processor time the world's processes have taken so far (user and system), in seconds.
inline double processorSeconds(const QTemporaryDir &scratch)
{
    long ticks = 0;
    for (const long pid : worldProcesses(scratch)) {
        // The fields after the command's name, which is in parentheses and may hold spaces.
        const QByteArray stat = processFile(pid, "stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            ticks += fields.at(11).toLong() + fields.at(12).toLong(); // utime, stime
    }
    return double(ticks) / double(::sysconf(_SC_CLK_TCK));
}

}
