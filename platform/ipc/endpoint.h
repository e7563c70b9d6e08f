#pragma once

// Endpoints: the hidden windows through which the programs of one user talk to each other.
//
// An endpoint has a class and a title by which any process of the user finds it, small integer
// properties that other processes read without its owner's help, and an inbox. Two things can
// reach it:
//
//  - a sent record (bytes plus a 32-bit tag, with the sender's endpoint): the owner answers it
//    synchronously with accepted or refused, within the sender's time-out; the answer is given
//    from the owner's event loop, also while the owner waits in a nested loop;
//  - a posted message (a name and two integers, or bytes when posted within the process): queued
//    and handled later, when the owner's event loop next runs its queued work.
//
// Each endpoint is a Unix-domain socket in <runtime folder>/endpoints, beside a description file
// (class, title, process, creation time, properties) that is replaced atomically, and a lock file
// that the owner holds with flock(2) for as long as it lives. An endpoint whose owner died is
// recognised by its free lock file, never waited for, and its files are removed by whoever finds
// it. A record sent to an endpoint of the sending process is handed over directly, as a window
// procedure of the calling thread would be called.
//
// Endpoints belong to the thread that made them (the user-interface thread); so do the calls.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tavrelo::ipc {

// Names an endpoint among all processes of the user: "<process id>-<serial>"; empty for none.
using EndpointId = QString;

// An endpoint as a number, as a window handle would be: process id and serial; 0 for none or for
// text that names no endpoint.
std::int64_t endpointHandle(const EndpointId &endpoint);

// The longest record or message name an endpoint takes.
inline constexpr qsizetype kMaxRecordSize = 64 * 1024;

class Endpoint final : public QObject {
    Q_OBJECT

public:
    // Answers a sent record: true to accept it, false to refuse it. Runs on the owner's thread
    // and must not run script or wait.
    using RecordHandler = std::function<bool(const EndpointId &sender, std::uint32_t tag, const QByteArray &data)>;
    // Handles a posted message: its name, the two integers and, for posts from this process, the
    // bytes posted with it.
    using MessageHandler = std::function<void(const QByteArray &message, std::int64_t wParam, std::int64_t lParam,
                                              const QByteArray &data)>;

    // Creates the endpoint and makes it findable. When that fails, isValid() is false and
    // errorString() says why; the object then does nothing.
    Endpoint(const QByteArray &windowClass, const QByteArray &title, QObject *parent = nullptr);
    // Removes the endpoint; posted messages still queued are dropped unhandled.
    ~Endpoint() override;

    bool isValid() const;
    QString errorString() const;
    EndpointId id() const;

    void setRecordHandler(RecordHandler handler);
    void setMessageHandler(MessageHandler handler);

    // Properties, readable by every process through windowProperty(). False when the
    // description file could not be written.
    bool setWindowProperty(const QByteArray &name, std::int64_t value);
    bool removeWindowProperty(const QByteArray &name);

    // Queues a message for this endpoint's own handler.
    void post(const QByteArray &message, std::int64_t wParam, std::int64_t lParam, const QByteArray &data = {});
    // Drops every queued message of that name; returns how many were dropped.
    int discardPosted(const QByteArray &message);

private:
    friend class LocalEndpoints;
    class Private;
    std::unique_ptr<Private> d;
};

// Endpoints of the class (and, when given, the title), in enumeration order: the newest first.
// Endpoints whose owner died are left out and their files removed.
QList<EndpointId> findEndpoints(const QByteArray &windowClass, const std::optional<QByteArray> &title = std::nullopt);

// A property of a live endpoint; nothing when the endpoint or the property does not exist.
std::optional<std::int64_t> windowProperty(const EndpointId &endpoint, const QByteArray &name);

enum class SendResult {
    Accepted,
    Refused,
    TimedOut,    // no answer within the time-out
    Unreachable, // no such endpoint, or its owner died
};

// Sends a record and waits up to `timeoutMs` for the answer. The calling thread does not run its
// event loop meanwhile, except that a record to an endpoint of this process is answered at once.
SendResult sendRecord(const EndpointId &target, const EndpointId &sender, std::uint32_t tag, const QByteArray &data,
                      int timeoutMs);

// Posts a message to an endpoint of any process without waiting for it to be handled. False when
// the endpoint cannot be reached.
bool postMessage(const EndpointId &target, const QByteArray &message, std::int64_t wParam, std::int64_t lParam);

// The folder that holds the endpoints' files.
QString endpointDirectory();

}
