#pragma once

// What the benchmarks that run the real viewer share: a scratch world of their own (home,
// private registry and runtime folder, user-interface answers) and the programs they start.

#include "support/devtools.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>

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

// A free port on the loopback interface, for a DevTools server.
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// The environment of programs that live in `scratch`: its folders home, registry and runtime are
// made, and pages serve DevTools on `devToolsPort`.
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

}
