#include "standbykeeper.h"

#include "ipc/capturedialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>

namespace tavrelo::htahost {

Q_LOGGING_CATEGORY(lcKeeper, "tavrelo.htahost.standby")

namespace protocol = tavrelo::ipc::capturedialog;

namespace {

constexpr int kFirstLookMs = 2000;
// After the watched standby has ended: its dialog's process is still saving, the next can wait.
constexpr int kNextLookMs = 1000;
// After the socket failed otherwise than by nobody listening.
constexpr int kAfterTroubleMs = 10000;
// While a standby started here comes up.
constexpr int kRetryMs = 200;
constexpr int kStartupMs = 30000;
// How long the process of a standby that was watched may take to end before the next starts.
constexpr int kEndingMs = 10000;
// Standbys that end before they are watched (no engine, no display) are not started forever.
constexpr int kMostStartsInARow = 3;

// True while the process runs; one that has ended and waits to be reaped (a standby is started
// detached, so its parent may be anyone) has ended.
bool processRuns(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype name = text.lastIndexOf(')'); // the state follows the command's name
    return name >= 0 && text.size() > name + 2 && text.at(name + 2) != 'Z' && text.at(name + 2) != 'X';
}

}

StandbyKeeper::StandbyKeeper(QObject *parent) : QObject(parent)
{
    m_next.setSingleShot(true);
    connect(&m_next, &QTimer::timeout, this, &StandbyKeeper::look);
    connect(&m_socket, &QLocalSocket::readyRead, this, &StandbyKeeper::received);
    connect(&m_socket, &QLocalSocket::disconnected, this, &StandbyKeeper::lost);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, &StandbyKeeper::lost);
}

void StandbyKeeper::start() { m_next.start(kFirstLookMs); }

void StandbyKeeper::look()
{
    // Its engine is still shutting down: the next one waits, so that two never run beside the
    // dialog's process and nothing of its (its DevTools port, its memory) is taken twice.
    if (m_watched > 0 && processRuns(m_watched) && !m_gone.hasExpired())
        return m_next.start(kRetryMs);
    m_watched = 0;
    m_state = State::Connecting;
    m_buffer.clear();
    m_socket.abort();
    m_socket.connectToServer(protocol::socketPath());
}

void StandbyKeeper::received()
{
    m_buffer += m_socket.readAll();
    if (m_state != State::Connecting)
        return m_buffer.clear(); // a standby says nothing more to its watchers
    bool malformed = false;
    const std::optional<QJsonObject> hello = protocol::takeLine(&m_buffer, &malformed);
    if (!hello && !malformed)
        return;
    if (malformed || hello->value(QStringLiteral("hello")).toString() != QLatin1String(protocol::kHello)) {
        qCWarning(lcKeeper, "The capture socket is held by something that is not a capture standby");
        m_state = State::Idle;
        m_socket.abort();
        return;
    }
    m_state = State::Watching;
    m_watched = pid_t(hello->value(QStringLiteral("pid")).toInteger());
    m_startsInARow = 0;
    m_startedOne = false;
    m_socket.write(protocol::line({{QStringLiteral("watch"), true}}));
}

void StandbyKeeper::lost()
{
    switch (m_state) {
    case State::Idle:
        return;
    case State::Watching: // its dialog has opened and closed, or it died
        m_state = State::Idle;
        m_gone.setRemainingTime(kEndingMs);
        m_next.start(kNextLookMs);
        return;
    case State::Connecting:
        break;
    }
    m_state = State::Idle;
    if (m_socket.error() != QLocalSocket::ServerNotFoundError && m_socket.error() != QLocalSocket::ConnectionRefusedError) {
        qCWarning(lcKeeper, "Cannot reach the capture standby: %s", qPrintable(m_socket.errorString()));
        return m_next.start(kAfterTroubleMs);
    }
    // Nobody listens: one started here may still be coming up.
    if (m_startedOne && !m_starting.hasExpired())
        return m_next.start(kRetryMs);
    if (m_startsInARow >= kMostStartsInARow) {
        qCWarning(lcKeeper, "Capture standbys end before they listen; captures start dialog processes of their own");
        return;
    }
    startStandby();
    m_next.start(kRetryMs);
}

void StandbyKeeper::startStandby()
{
    QProcess standby;
    standby.setProgram(QCoreApplication::applicationFilePath());
    standby.setArguments({QStringLiteral("--capture-standby")});
    standby.setWorkingDirectory(QDir::homePath());
    standby.setStandardInputFile(QProcess::nullDevice());
    // The DevTools port of this process is its own; a standby has one only when asked for.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"));
    const QString port = environment.value(QStringLiteral("TAVRELO_STANDBY_REMOTE_DEBUGGING"));
    if (!port.isEmpty())
        environment.insert(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"), port);
    standby.setProcessEnvironment(environment);
    ++m_startsInARow;
    m_startedOne = true;
    m_starting.setRemainingTime(kStartupMs);
    if (!standby.startDetached())
        qCWarning(lcKeeper, "Cannot start a capture standby (%s)", qPrintable(standby.program()));
}

} // namespace tavrelo::htahost
