// The viewer end to end: the real Clipvane starts the real htahost on the viewer page of the
// helper library, with a private registry, runtime folder, home folder and user-interface test
// files. The viewer is watched from outside: the window's title through the DevTools list of
// pages, the settings in the registry, the collection files on disk, and file-open requests sent
// to it as another start of Clipvane would.

#include "automation/registryprobe.h"
#include "object/exports.h"
#include "support/eventloop.h"
#include "support/scratchregistry.h"
#include "support/scratchruntime.h"

#include "ipc/endpoint.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

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
    }
    void TearDown() override
    {
        stopViewer();
    }

    // Starts Clipvane; the viewer it starts inherits the environment.
    void startClipvane(const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(str("HOME"), m_home.path());
        environment.insert(str("TAVRELO_AUTOMATION"), m_home.filePath(str("answers.jsonl")));
        environment.insert(str("TAVRELO_AUTOMATION_LOG"), m_home.filePath(str("requests.jsonl")));
        environment.insert(str("QTWEBENGINE_REMOTE_DEBUGGING"), QStringLiteral("127.0.0.1:%1").arg(m_devToolsPort));
        QProcess launcher;
        launcher.setProcessEnvironment(environment);
        launcher.setProcessChannelMode(QProcess::ForwardedChannels);
        launcher.start(str(CLIPVANE_LAUNCHER), arguments);
        ASSERT_TRUE(launcher.waitForFinished(kViewerMs)) << "the launcher ends once the viewer is up";
    }

    // The viewer's window title once it ends with `suffix`, as the DevTools list of pages shows it.
    QString waitForTitle(const std::function<bool(const QString &)> &done)
    {
        QString title;
        turnUntil(
            [&] {
                QNetworkReply *reply =
                    m_network.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json").arg(m_devToolsPort))));
                turnUntil([reply] { return reply->isFinished(); }, 5000);
                for (const QJsonValue target : QJsonDocument::fromJson(reply->readAll()).array()) {
                    const QJsonObject page = target.toObject();
                    if (page.value(str("url")).toString().endsWith(str("/TavTracker.hta")))
                        title = page.value(str("title")).toString();
                }
                reply->deleteLater();
                return done(title);
            },
            kViewerMs);
        return title;
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

    ScratchRegistry m_registry;
    ScratchRuntime m_runtime;
    QTemporaryDir m_home, m_files;
    QNetworkAccessManager m_network;
    quint16 m_devToolsPort = 0;
};

} // namespace

TEST_F(Viewer, StartedBareItOpensTheDefaultCollectionAndRecordsIt)
{
    startClipvane({});
    const QString title = waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    EXPECT_TRUE(title.endsWith(str("Clipvane.t-q - Tavrelo Clipvane"))) << title.toStdString();
    const QString defaultPath = m_home.filePath(str("Clipvane.t-q"));
    EXPECT_EQ(setting("LastFile"), defaultPath);
    EXPECT_EQ(setting("PreviousFile0"), defaultPath);
    EXPECT_FALSE(QFile::exists(defaultPath)) << "opening writes nothing";
    stopViewer();
    EXPECT_TRUE(registryprobe::rawValue(tavrelo::registry::HKEY_CURRENT_USER,
                                        str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"), str("WindowPos")))
        << "the window's place is kept";
}

TEST_F(Viewer, AQuotedPathIsOpenedUnrecordedAndClosingKeepsTheFolderQuietly)
{
    // The file names a folder that is gone: the viewer opens at the root folder, and closing
    // records that without a new time stamp.
    const QString path = writeCollection(str("My notes.t-q"), "TimeStamp=\"5\" NextUIN=\"3\" dbversion=\"1.0\"", "99");
    startClipvane({path});
    EXPECT_TRUE(waitForTitle([](const QString &t) { return t.contains(str("My notes.t-q")); }).endsWith(str(" - Tavrelo Clipvane")));
    EXPECT_EQ(setting("LastFile"), QString()) << "a file of the command line is not recorded";
    stopViewer();
    const QByteArray saved = ScratchRegistry::readFile(path);
    EXPECT_TRUE(saved.contains("CurrentNode=\"0\"")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("TimeStamp=\"5\"")) << saved.toStdString();
}

TEST_F(Viewer, AFileHandedOverByAnotherStartIsOpenedAndRecorded)
{
    startClipvane({});
    waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    const QString other = writeCollection(str("Other notes.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
    std::int32_t delivered = 0, found = 0;
    QuilletHelpersRequestFileOpen(('"' + other + '"').toUtf8().constData(), &delivered, &found);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(delivered, 1);
    EXPECT_TRUE(waitForTitle([](const QString &t) { return t.contains(str("Other notes.t-q")); }).endsWith(str(" - Tavrelo Clipvane")));
    EXPECT_EQ(setting("LastFile"), other) << "quotes taken off, recorded";
}
