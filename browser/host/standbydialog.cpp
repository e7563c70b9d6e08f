#include "standbydialog.h"

#include "ipc/capturedialog.h"

#include <cstdio>

namespace tavrelo::nativehost {

namespace protocol = tavrelo::ipc::capturedialog;

StandbyDialog::StandbyDialog(const QString &page, const QJsonObject &menuArguments, QObject *parent)
    : QObject(parent)
    , m_request(protocol::line({{QStringLiteral("page"), page}, {QStringLiteral("menuArguments"), menuArguments}}))
{
    m_helloTimer.setSingleShot(true);
    m_helloTimer.setInterval(protocol::kHelloMs);
    connect(&m_helloTimer, &QTimer::timeout, this, [this] { unavailable(QStringLiteral("it did not answer")); });
    connect(&m_socket, &QLocalSocket::readyRead, this, &StandbyDialog::received);
    connect(&m_socket, &QLocalSocket::disconnected, this, &StandbyDialog::dropped);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, &StandbyDialog::dropped);
}

void StandbyDialog::start()
{
    m_helloTimer.start();
    m_socket.connectToServer(protocol::socketPath());
}

void StandbyDialog::received()
{
    m_buffer += m_socket.readAll();
    while (m_state != State::Done) {
        bool malformed = false;
        const std::optional<QJsonObject> message = protocol::takeLine(&m_buffer, &malformed);
        if (malformed)
            return dropped();
        if (!message)
            return;
        if (m_state == State::Asking) {
            if (message->value(QStringLiteral("hello")).toString() != QLatin1String(protocol::kHello))
                return unavailable(QStringLiteral("it is not a capture standby"));
            m_helloTimer.stop();
            m_state = State::Requested;
            m_socket.write(m_request);
            m_request.clear();
        } else if (message->contains(QStringLiteral("refused"))) {
            return unavailable(QStringLiteral("it refused: ") + message->value(QStringLiteral("refused")).toString());
        } else if (message->value(QStringLiteral("opened")).toBool()) {
            m_state = State::Opened;
        } else if (message->value(QStringLiteral("status")).isDouble()) {
            return ended(dialogOutcome(false, message->value(QStringLiteral("status")).toInt(),
                                       message->value(QStringLiteral("reason")).toString().left(500)));
        }
    }
}

void StandbyDialog::dropped()
{
    // What the host wrote before it went is read first: its last line may be the outcome.
    if (m_state != State::Done && m_socket.bytesAvailable() > 0)
        received();
    switch (m_state) {
    case State::Asking:
    case State::Requested: // the standby went before it opened anything
        return unavailable(QStringLiteral("the connection ended"));
    case State::Opened:
        return ended({false, {}, QStringLiteral("the capture dialog ended abnormally")});
    case State::Done:
        return;
    }
}

void StandbyDialog::unavailable(const QString &why)
{
    if (m_state == State::Done)
        return;
    // Told only when a standby was there to ask: no viewer running is the ordinary case.
    if (m_socket.error() != QLocalSocket::ServerNotFoundError && m_socket.error() != QLocalSocket::ConnectionRefusedError)
        std::fprintf(stderr, "clipvane-native-host: the capture standby does not open the dialog (%s); starting it\n",
                     qPrintable(why));
    m_state = State::Done;
    m_helloTimer.stop();
    m_socket.abort();
    onUnavailable();
}

void StandbyDialog::ended(const DialogOutcome &outcome)
{
    m_state = State::Done;
    m_socket.abort();
    onEnded(outcome);
}

} // namespace tavrelo::nativehost
