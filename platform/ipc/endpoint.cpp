#include "endpoint.h"

#include "wire.h"

#include "sync/runtimedir.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <atomic>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcEndpoint, "tavrelo.ipc.endpoint")

namespace tavrelo::ipc {

namespace {

// A connection that has not delivered its whole request by then is dropped.
constexpr int kIncomingLimitMs = 60000;
// How long a post may take to be written into the receiver's socket.
constexpr int kPostMs = 5000;

QString filePath(const EndpointId &id, const char *suffix)
{
    return endpointDirectory() + u'/' + id + QLatin1String(suffix);
}

// Endpoints of this process, by id: sends to them are handed over directly.
QHash<EndpointId, Endpoint *> &localEndpoints()
{
    static QHash<EndpointId, Endpoint *> endpoints;
    return endpoints;
}

void removeFiles(const EndpointId &id)
{
    // The description first: from then on nobody finds the endpoint.
    QFile::remove(filePath(id, ".json"));
    QFile::remove(filePath(id, ".sock"));
    QFile::remove(filePath(id, ".lock"));
}

// True when the owner of an endpoint of another process still lives: it holds the lock file.
// An endpoint found dead has its files removed.
bool ownerLives(const EndpointId &id)
{
    const QByteArray lockPath = QFile::encodeName(filePath(id, ".lock"));
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool lives = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (!lives) {
        qCDebug(lcEndpoint) << "removing the endpoint of a process that ended:" << id;
        removeFiles(id);
    }
    ::close(fd);
    return lives;
}

struct Description {
    QByteArray windowClass, title;
    qint64 created = 0;
    QJsonObject properties;
};

std::optional<Description> readDescription(const EndpointId &id)
{
    QFile file(filePath(id, ".json"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject json = QJsonDocument::fromJson(file.read(kMaxRecordSize)).object();
    if (json.isEmpty())
        return std::nullopt;
    return Description{json.value(QStringLiteral("class")).toString().toUtf8(),
                       json.value(QStringLiteral("title")).toString().toUtf8(),
                       json.value(QStringLiteral("created")).toInteger(),
                       json.value(QStringLiteral("properties")).toObject()};
}

bool isLocal(const EndpointId &id)
{
    return id.startsWith(QString::number(::getpid()) + u'-');
}

} // namespace

// The inside of an endpoint of this process, for the functions that reach it directly.
class LocalEndpoints {
public:
    static Endpoint::Private *of(Endpoint *endpoint) { return endpoint->d.get(); }
};

std::int64_t endpointHandle(const EndpointId &endpoint)
{
    const qsizetype dash = endpoint.indexOf(u'-');
    bool pidOk = false, serialOk = false;
    const std::uint32_t pid = endpoint.left(dash).toUInt(&pidOk);
    const std::uint32_t serial = endpoint.mid(dash + 1).toUInt(&serialOk);
    if (dash < 0 || !pidOk || !serialOk)
        return 0;
    return static_cast<std::int64_t>((std::uint64_t(pid) << 32) | serial);
}

QString endpointDirectory()
{
    const QString directory = sync::runtimeDirectory() + QStringLiteral("/endpoints");
    QDir().mkpath(directory);
    return directory;
}

class Endpoint::Private {
public:
    struct Posted {
        QByteArray message;
        std::int64_t wParam, lParam;
        QByteArray data;
    };

    Endpoint *q;
    EndpointId id;
    Description description;
    QString error;
    int lockFd = -1;
    QLocalServer server;
    RecordHandler recordHandler;
    MessageHandler messageHandler;
    QList<Posted> posted;
    bool dispatchScheduled = false;

    bool create(const QByteArray &windowClass, const QByteArray &title);
    bool writeDescription();
    void accept(QLocalSocket *socket);
    void handleRequest(QLocalSocket *socket, const wire::Request &request);
    void scheduleDispatch();
    void dispatchOne();
};

bool Endpoint::Private::create(const QByteArray &windowClass, const QByteArray &title)
{
    static std::atomic<int> serial{0};
    id = QStringLiteral("%1-%2").arg(::getpid()).arg(++serial);
    description = {windowClass, title, QDateTime::currentMSecsSinceEpoch() * 1000000 + serial, {}};

    // The lock file says the owner lives for as long as it is held.
    const QByteArray lockPath = QFile::encodeName(filePath(id, ".lock"));
    lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0 || ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        error = QStringLiteral("Cannot lock %1: %2").arg(QString::fromLocal8Bit(lockPath), qt_error_string(errno));
        return false;
    }
    const QString socketPath = filePath(id, ".sock");
    QLocalServer::removeServer(socketPath); // left by an earlier process with the same number
    server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server.listen(socketPath)) {
        error = QStringLiteral("Cannot listen on %1: %2").arg(socketPath, server.errorString());
        return false;
    }
    QObject::connect(&server, &QLocalServer::newConnection, q, [this] {
        while (QLocalSocket *socket = server.nextPendingConnection())
            accept(socket);
    });
    // The description comes last: whoever finds it finds a listening endpoint.
    return writeDescription();
}

bool Endpoint::Private::writeDescription()
{
    QSaveFile file(filePath(id, ".json"));
    const QJsonObject json{{QStringLiteral("class"), QString::fromUtf8(description.windowClass)},
                           {QStringLiteral("title"), QString::fromUtf8(description.title)},
                           {QStringLiteral("pid"), qint64(::getpid())},
                           {QStringLiteral("created"), description.created},
                           {QStringLiteral("properties"), description.properties}};
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(json).toJson(QJsonDocument::Compact)) < 0 ||
        !file.commit()) {
        error = QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}

void Endpoint::Private::accept(QLocalSocket *socket)
{
    socket->setParent(&server);
    QTimer::singleShot(kIncomingLimitMs, socket, [socket] { socket->abort(); });
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer] {
        buffer->append(socket->readAll());
        wire::Request request;
        switch (wire::parseRequest(*buffer, &request)) {
        case wire::ParseState::Incomplete:
            return;
        case wire::ParseState::Malformed:
            qCWarning(lcEndpoint) << "refusing a malformed request to" << id;
            socket->abort();
            return;
        case wire::ParseState::Complete:
            buffer->clear();
            handleRequest(socket, request);
            return;
        }
    });
}

void Endpoint::Private::handleRequest(QLocalSocket *socket, const wire::Request &request)
{
    if (request.kind == wire::Kind::Post) {
        q->post(request.name, request.wParam, request.lParam);
        socket->disconnectFromServer();
        return;
    }
    const QPointer<QLocalSocket> guard(socket);
    const bool accepted = recordHandler && recordHandler(request.sender, request.tag, request.data);
    if (!guard)
        return;
    socket->write(wire::answer(accepted));
    socket->flush();
    socket->disconnectFromServer();
}

void Endpoint::Private::scheduleDispatch()
{
    if (dispatchScheduled || posted.isEmpty())
        return;
    dispatchScheduled = true;
    QMetaObject::invokeMethod(q, [this] { dispatchOne(); }, Qt::QueuedConnection);
}

void Endpoint::Private::dispatchOne()
{
    dispatchScheduled = false;
    if (posted.isEmpty())
        return;
    // One message per turn of the event loop, as a message queue hands them out.
    const Posted message = posted.takeFirst();
    scheduleDispatch();
    if (messageHandler)
        messageHandler(message.message, message.wParam, message.lParam, message.data);
}

Endpoint::Endpoint(const QByteArray &windowClass, const QByteArray &title, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->q = this;
    if (d->create(windowClass, title)) {
        localEndpoints().insert(d->id, this);
        return;
    }
    qCWarning(lcEndpoint) << "no endpoint:" << d->error;
    d->server.close();
    if (!d->id.isEmpty())
        removeFiles(d->id);
    if (d->lockFd >= 0)
        ::close(d->lockFd);
    d->lockFd = -1;
}

Endpoint::~Endpoint()
{
    if (d->lockFd < 0)
        return;
    localEndpoints().remove(d->id);
    QFile::remove(filePath(d->id, ".json"));
    d->server.close(); // removes the socket file
    QFile::remove(filePath(d->id, ".lock"));
    ::close(d->lockFd);
}

bool Endpoint::isValid() const { return d->lockFd >= 0; }

QString Endpoint::errorString() const { return d->error; }

EndpointId Endpoint::id() const { return isValid() ? d->id : EndpointId(); }

void Endpoint::setRecordHandler(RecordHandler handler) { d->recordHandler = std::move(handler); }

void Endpoint::setMessageHandler(MessageHandler handler) { d->messageHandler = std::move(handler); }

bool Endpoint::setWindowProperty(const QByteArray &name, std::int64_t value)
{
    if (!isValid())
        return false;
    d->description.properties.insert(QString::fromUtf8(name), qint64(value));
    return d->writeDescription();
}

bool Endpoint::removeWindowProperty(const QByteArray &name)
{
    if (!isValid())
        return false;
    d->description.properties.remove(QString::fromUtf8(name));
    return d->writeDescription();
}

void Endpoint::post(const QByteArray &message, std::int64_t wParam, std::int64_t lParam, const QByteArray &data)
{
    if (!isValid())
        return;
    d->posted.append({message, wParam, lParam, data});
    d->scheduleDispatch();
}

int Endpoint::discardPosted(const QByteArray &message)
{
    return int(d->posted.removeIf([&message](const Private::Posted &p) { return p.message == message; }));
}

std::optional<std::int64_t> windowProperty(const EndpointId &endpoint, const QByteArray &name)
{
    std::optional<Description> description;
    if (Endpoint *local = localEndpoints().value(endpoint))
        description = LocalEndpoints::of(local)->description;
    else if (ownerLives(endpoint))
        description = readDescription(endpoint);
    const QJsonValue value = description ? description->properties.value(QString::fromUtf8(name)) : QJsonValue();
    if (!value.isDouble())
        return std::nullopt;
    return value.toInteger();
}

QList<EndpointId> findEndpoints(const QByteArray &windowClass, const std::optional<QByteArray> &title)
{
    struct Found {
        EndpointId id;
        qint64 created;
    };
    QList<Found> found;
    const QStringList files = QDir(endpointDirectory()).entryList({QStringLiteral("*.json")}, QDir::Files);
    for (const QString &file : files) {
        const EndpointId id = file.chopped(5);
        std::optional<Description> description;
        if (Endpoint *local = localEndpoints().value(id))
            description = LocalEndpoints::of(local)->description;
        else if (ownerLives(id)) // also tells apart a left-over of an earlier process of our number
            description = readDescription(id);
        // Window classes and titles compare without regard to case.
        if (!description ||
            QString::fromUtf8(description->windowClass).compare(QString::fromUtf8(windowClass), Qt::CaseInsensitive) ||
            (title && QString::fromUtf8(description->title).compare(QString::fromUtf8(*title), Qt::CaseInsensitive)))
            continue;
        found.append({id, description->created});
    }
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        return a.created != b.created ? a.created > b.created : a.id > b.id;
    });
    QList<EndpointId> ids;
    for (const Found &entry : std::as_const(found))
        ids.append(entry.id);
    return ids;
}

namespace {

// Connects to an endpoint of another process; Unreachable (and its files removed when its owner
// died) or TimedOut when that fails.
std::optional<SendResult> connectTo(QLocalSocket &socket, const EndpointId &target, int timeoutMs)
{
    if (target.isEmpty() || target.contains(u'/'))
        return SendResult::Unreachable;
    socket.connectToServer(filePath(target, ".sock"));
    if (socket.waitForConnected(timeoutMs))
        return std::nullopt;
    if (socket.error() == QLocalSocket::SocketTimeoutError && ownerLives(target))
        return SendResult::TimedOut;
    ownerLives(target); // removes what a dead owner left
    return SendResult::Unreachable;
}

} // namespace

SendResult sendRecord(const EndpointId &target, const EndpointId &sender, std::uint32_t tag, const QByteArray &data,
                      int timeoutMs)
{
    if (data.size() > kMaxRecordSize)
        return SendResult::Refused;
    if (isLocal(target)) {
        Endpoint *local = localEndpoints().value(target);
        if (!local)
            return SendResult::Unreachable;
        const Endpoint::RecordHandler &handler = LocalEndpoints::of(local)->recordHandler;
        const bool accepted = handler && handler(sender, tag, data);
        return accepted ? SendResult::Accepted : SendResult::Refused;
    }

    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    if (const auto failure = connectTo(socket, target, timeoutMs))
        return *failure;
    socket.write(wire::sendRequest(sender, tag, data));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            return deadline.hasExpired() ? SendResult::TimedOut : SendResult::Refused;
    }
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime()))) {
            if (deadline.hasExpired())
                return SendResult::TimedOut;
            if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() < 1)
                return SendResult::Refused; // closed without an answer: malformed or not taken
        }
    }
    char answer = 0;
    socket.getChar(&answer);
    return answer == 1 ? SendResult::Accepted : SendResult::Refused;
}

bool postMessage(const EndpointId &target, const QByteArray &message, std::int64_t wParam, std::int64_t lParam)
{
    if (message.size() > kMaxRecordSize)
        return false;
    if (isLocal(target)) {
        Endpoint *local = localEndpoints().value(target);
        if (local)
            local->post(message, wParam, lParam);
        return local;
    }
    QLocalSocket socket;
    if (connectTo(socket, target, kPostMs))
        return false;
    socket.write(wire::postRequest(message, wParam, lParam));
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(kPostMs))
            return false;
    socket.disconnectFromServer();
    return true;
}

}
