#pragma once

// The automation objects of one page: created for its frames, called by name, connected to
// their events, and released when their frame or the page goes away.

#include "automation/connection.h"
#include "automation/dispatch.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QMetaObject>
#include <QEventLoop>
#include <QPointer>
#include <QString>

#include <map>
#include <memory>

class QWebEngineUrlRequestJob;

namespace tavrelo::htahost {

// The outcome of a call: a result, or a failure with its code and description.
struct CallResult {
    CallResult(QJsonValue value = QJsonValue()) : result(std::move(value)) {}
    static CallResult failure(HRESULT code, QString text)
    {
        CallResult failed;
        failed.hr = code;
        failed.description = std::move(text);
        return failed;
    }

    QJsonValue result;
    HRESULT hr = S_OK;
    QString description;
};

class ObjectTable final {
public:
    explicit ObjectTable(IUnknown *site);
    ~ObjectTable();
    ObjectTable(const ObjectTable &) = delete;
    ObjectTable &operator=(const ObjectTable &) = delete;

    // Creates an object of a class given by identifier ("{...}") or ProgID for a frame. The
    // result describes it for script: {id, members, events} (members null, with typeInfoError,
    // when the object has no type information).
    CallResult create(const QString &frame, const QString &clsid, const QString &progId);
    CallResult invoke(const QString &frame, int object, const QString &name, std::uint16_t flags,
                      const QJsonArray &arguments);
    // A sink for the object's events; given an event name, a sink for that event alone, which
    // the object's other events pass by.
    CallResult advise(const QString &frame, int object, const QString &event = QString());
    CallResult unadvise(const QString &frame, int object, int sink);

    // A frame's request for events: answered at once when events wait, else when one is raised.
    // When the request goes away unanswered the frame is gone and its objects are released.
    void poll(const QString &frame, QWebEngineUrlRequestJob *job);
    // The frame has run the handlers of every event up to `number`.
    void handled(const QString &frame, int number);

    // A synchronous call from the page: its script waits until the request is answered.
    void callStarted(QWebEngineUrlRequestJob *job);
    // True while the page's script waits for a call: no event handler can run before it ends.
    bool inCall();

    void releaseAll();

private:
    struct Frame;
    struct Entry {
        ComPtr<IDispatch> object;
        ComPtr<IConnectionPoint> events;
        QHash<DISPID, QString> eventNames;
        QHash<int, std::uint32_t> sinks; // sink id -> connection cookie
        std::weak_ptr<Frame> owner;
    };
    struct Frame {
        QString id;
        QPointer<QWebEngineUrlRequestJob> poll;
        QMetaObject::Connection pollGone;
        QJsonArray queued;
        QList<int> objects;
        int lastNumber = 0; // of the last event queued
        int handled = 0;    // the last event whose handlers have run
        bool gone = false;
        QList<QEventLoop *> waiters; // raises waiting for their handlers
    };
    class Sink;

    std::shared_ptr<Frame> frame(const QString &id);
    Entry *entry(int object);
    QJsonObject describe(int id, Entry &entry);
    CallResult toWire(const Variant &value, const std::shared_ptr<Frame> &owner, QJsonValue *wire);
    HRESULT fromWire(const QJsonValue &wire, Variant *value);
    int adopt(ComPtr<IDispatch> object, const std::shared_ptr<Frame> &owner);
    void deliver(const std::shared_ptr<Frame> &frame);
    // Turns the event loop until the frame has run the handlers of event `number`, or is gone.
    static void waitUntilHandled(const std::shared_ptr<Frame> &frame, int number);
    static void wakeWaiters(const Frame &frame);
    void releaseFrame(const QString &id);
    void release(int object);

    ComPtr<IUnknown> m_site;
    std::map<int, Entry> m_objects;
    std::map<QString, std::shared_ptr<Frame>> m_frames;
    QList<QPointer<QWebEngineUrlRequestJob>> m_calls; // unanswered synchronous calls
    int m_nextId = 1;
};

} // namespace tavrelo::htahost
