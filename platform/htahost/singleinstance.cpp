#include "singleinstance.h"

#include "sync/runtimedir.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace tavrelo::htahost {

SingleInstance::SingleInstance(const QString &applicationName)
{
    const QByteArray digest = QCryptographicHash::hash(applicationName.toLower().toUtf8(), QCryptographicHash::Sha1);
    m_socketPath = tavrelo::sync::runtimeDirectory() + QStringLiteral("/hta-") + QString::fromLatin1(digest.toHex().left(24));
}

bool SingleInstance::handOver()
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(2000))
        return false;
    socket.write("activate\n");
    socket.waitForBytesWritten(2000);
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::listen(std::function<void()> activate)
{
    QLocalServer::removeServer(m_socketPath); // a file left by a host that died
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_socketPath)) {
        qWarning("Cannot watch for a second start: %s", qPrintable(m_server.errorString()));
        return;
    }
    connect(&m_server, &QLocalServer::newConnection, this, [this, activate = std::move(activate)] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            activate();
        }
    });
}

} // namespace tavrelo::htahost
