#pragma once

// The viewer's test fixture: the real Clipvane starts the real htahost on the viewer page of the
// helper library, with a private registry, runtime folder, home folder and user-interface test
// files; the tests watch it from outside (the DevTools protocol, the registry, the files, the
// log of user-interface requests).

#include "support/registryprobe.h"
#include "object/exports.h"
#include "object/quillet.h"
#include "support/devtools.h"
#include "support/eventloop.h"
#include "support/scratchregistry.h"
#include "support/scratchruntime.h"

#include "ipc/endpoint.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

// Failures show texts as text.
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }

namespace {

constexpr int kViewerMs = 60000;

QString str(const char *text) { return QString::fromUtf8(text); }

class Viewer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureCoreApplication(); }

    void SetUp() override
    {
        QProcess regsvr;
        regsvr.start(str(CLIPVANE_REGSVR), {str("-s"), str(HELPERS_LIBRARY)});
        ASSERT_TRUE(regsvr.waitForFinished(30000) && regsvr.exitCode() == 0) << "the helper library registers";
        QTcpServer probe; // a free port for the DevTools server
        probe.listen(QHostAddress::LocalHost);
        m_devToolsPort = probe.serverPort();
        m_devTools = std::make_unique<DevToolsPage>(m_devToolsPort);
    }
    void TearDown() override
    {
        stopViewer();
    }

    // The environment of the programs a test starts: the scratch home and user-interface files,
    // and pages served for DevTools on `devToolsPort`.
    QProcessEnvironment testEnvironment(quint16 devToolsPort) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(str("HOME"), m_home.path());
        environment.insert(str("TAVRELO_AUTOMATION"), m_home.filePath(str("answers.jsonl")));
        environment.insert(str("TAVRELO_AUTOMATION_LOG"), m_home.filePath(str("requests.jsonl")));
        environment.insert(str("QTWEBENGINE_REMOTE_DEBUGGING"), QStringLiteral("127.0.0.1:%1").arg(devToolsPort));
        environment.insert(m_extraEnvironment);
        for (const QString &name : m_removedEnvironment)
            environment.remove(name);
        return environment;
    }

    // Starts Clipvane; the viewer it starts inherits the environment.
    void startClipvane(const QStringList &arguments)
    {
        QProcess launcher;
        launcher.setProcessEnvironment(testEnvironment(m_devToolsPort));
        launcher.setProcessChannelMode(m_outputLog.isEmpty() ? QProcess::ForwardedChannels : QProcess::MergedChannels);
        if (!m_outputLog.isEmpty())
            launcher.setStandardOutputFile(m_outputLog, QIODevice::Append);
        launcher.start(str(CLIPVANE_LAUNCHER), arguments);
        ASSERT_TRUE(launcher.waitForFinished(kViewerMs)) << "the launcher ends once the viewer is up";
    }

    // The viewer's window title once `done` accepts it, as the DevTools list of pages shows it.
    QString waitForTitle(const std::function<bool(const QString &)> &done)
    {
        QString title;
        turnUntil(
            [&] {
                for (const QJsonObject &page : m_devTools->targets())
                    if (page.value(str("url")).toString().endsWith(str("/TavTracker.hta")))
                        title = page.value(str("title")).toString();
                return done(title);
            },
            kViewerMs);
        return title;
    }

    // Appends the answer to the next user-interface request of its kind.
    void answer(const QJsonObject &line)
    {
        QFile file(m_home.filePath(str("answers.jsonl")));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    }
    QList<QJsonObject> loggedRequests(const char *kind) const
    {
        QList<QJsonObject> requests;
        for (const QByteArray &line : ScratchRegistry::readFile(m_home.filePath(str("requests.jsonl"))).split('\n')) {
            const QJsonObject request = QJsonDocument::fromJson(line).object();
            if (request.value(str("kind")) == str(kind))
                requests << request;
        }
        return requests;
    }
    static QStringList recentFiles()
    {
        QStringList recent;
        for (int i = 0; i < 5; ++i)
            recent << setting(QStringLiteral("PreviousFile%1").arg(i).toUtf8().constData());
        return recent;
    }

    static QList<tavrelo::ipc::EndpointId> viewerWindows()
    {
        QList<tavrelo::ipc::EndpointId> marked;
        for (const auto &id : tavrelo::ipc::findEndpoints("Tavrelo Quillet Notification Window"))
            if (tavrelo::ipc::windowProperty(id, "TavQuillet IsMainWnd") == 1)
                marked << id;
        return marked;
    }

    // Ends the viewer as the end of a session would (its shut-down runs) and waits for it to go.
    void stopViewer()
    {
        const QList<tavrelo::ipc::EndpointId> viewers = viewerWindows();
        for (const auto &id : viewers)
            ::kill(pid_t(id.section(u'-', 0, 0).toInt()), SIGTERM);
        EXPECT_TRUE(turnUntil([] { return viewerWindows().isEmpty(); }, kViewerMs)) << "the viewer closes";
    }

    static QString setting(const char *name)
    {
        return registryprobe::stringValue(tavrelo::registry::HKEY_CURRENT_USER,
                                          str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"), str(name))
            .value_or(QString());
    }

    // Stores the window placement that closing would store: length, flags, the show command
    // (1 normal, 3 maximised), no minimised or maximised position, and the normal rectangle
    // 100,120 - 820,640.
    static QByteArray storePlacement(std::int32_t showCommand = 1)
    {
        QByteArray placement;
        for (const std::int32_t field : {44, 0, showCommand, -1, -1, -1, -1, 100, 120, 820, 640})
            for (int i = 0; i < 4; ++i)
                placement.append(char((std::uint32_t(field) >> (8 * i)) & 0xFF));
        EXPECT_TRUE(registryprobe::setValue(tavrelo::registry::HKEY_CURRENT_USER, str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"),
                                            str("WindowPos"), tavrelo::registry::REG_BINARY, placement));
        return placement;
    }

    QString writeCollection(const QString &name, const char *attributes, const char *currentNode)
    {
        const QString path = m_files.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root xmlns:TavTracker=\"http://www.tavrelo.com/tracker/\" ") +
                   attributes + "><TavTracker:ktDATABASE Name=\"Mine\" IsDatabase=\"-1\" UIN=\"0\" CurrentNode=\"" +
                   currentNode + "\"><TavTracker:ktNODE Name=\"Default Collection\" UIN=\"1\" IsUnsortedNode=\"1\"/>"
                   "<TavTracker:ktNODE Name=\"Work\" UIN=\"2\"/></TavTracker:ktDATABASE></root>");
        return path;
    }

    // A collection large enough to be read in the background (over 6 MiB): kLargeFragments
    // fragments without identifiers in the folder "Big folder" (UIN 1).
    static constexpr int kLargeFragments = 20000;
    QString writeLargeCollection(const QString &name)
    {
        QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root xmlns:TavTracker=\"http://www.tavrelo.com/tracker/\" "
                          "TimeStamp=\"5\" NextUIN=\"2\" dbversion=\"1.0\"><TavTracker:ktDATABASE Name=\"Large\" IsDatabase=\"-1\" "
                          "UIN=\"0\" CurrentNode=\"1\"><TavTracker:ktNODE Name=\"Big folder\" UIN=\"1\">";
        for (int i = 0; i < kLargeFragments; ++i)
            text += "<TavTracker:ktFRAGMENT Name=\"Title " + QByteArray::number(i) + "\" Text=\"" + QByteArray(340, 'w') + "\"/>";
        text += "</TavTracker:ktNODE></TavTracker:ktDATABASE></root>\n";
        EXPECT_GE(text.size(), 6 * 1024 * 1024);
        const QString path = m_files.filePath(name);
        ScratchRegistry::writeFile(path, text);
        return path;
    }

    ScratchRegistry m_registry;
    ScratchRuntime m_runtime;
    QProcessEnvironment m_extraEnvironment; // what a test adds for the programs it starts
    QStringList m_removedEnvironment;       // and what it takes away
    QString m_outputLog;                    // where their output goes, when a test reads it
    QTemporaryDir m_home, m_files;
    quint16 m_devToolsPort = 0;
    std::unique_ptr<DevToolsPage> m_devTools;
};

} // namespace
