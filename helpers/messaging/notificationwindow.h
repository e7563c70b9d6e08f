#pragma once

// The hidden window each helper object owns for instance messaging: other processes find it by
// its class, send it change notifications and file-open requests, and read whether it belongs
// to a running viewer. A record is taken (or refused) at once, without running script, and acted
// on later from the event loop: the helper object then raises its event while the values the
// page reads are set. The event is raised without the notification mutex: a handler may wait for
// a collection lock (a reload), whose holder may be waiting for the mutex to announce its save.

#include "records.h"

#include "automation/olewindow.h"
#include "ipc/endpoint.h"
#include "sync/namedlock.h"

#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>

namespace tavrelo::messaging {

// The four calls the notification window makes of the helper object that owns it.
class NotificationOwner {
public:
    // The events of the owner that the window raises.
    enum class Event { FileChanged, FileOpenRequest, Busy };

    virtual ~NotificationOwner() = default;
    // A reference to the owner, held while its page handles an event: the handler may let the
    // owner go.
    virtual ComPtr<IUnknown> keepAlive() = 0;
    // The owner's site, as IObjectWithSite::GetSite gives it.
    virtual HRESULT site(const IID &iid, void **site) = 0;
    // The top-level window of the owner's page; null when there is none.
    virtual HWND hostWindow() = 0;
    // Raises the event to every connected sink.
    virtual void raiseEvent(Event event) = 0;
};

class NotificationWindow {
public:
    // Creates the window under the notification mutex and marks it as no viewer's (0).
    explicit NotificationWindow(std::unique_ptr<NotificationOwner> owner);
    // Under the mutex: removes the mark and drops what is still queued.
    ~NotificationWindow();
    NotificationWindow(const NotificationWindow &) = delete;
    NotificationWindow &operator=(const NotificationWindow &) = delete;

    // Empty when the window could not be made.
    tavrelo::ipc::EndpointId id() const;
    // Marks the window as the viewer's: file-open requests reach it from now on.
    void markAsViewer();

    // The values the page reads while an event runs; idle values otherwise.
    const QByteArray &changePath() const { return m_changePath; }
    std::int32_t changeFolderId() const { return m_changeFolderId; }
    const QByteArray &openPath() const { return m_openPath; }

private:
    struct Queued {
        Record record;
        std::int64_t sender = 0;
        std::optional<NotificationOwner::Event> event; // an open request's, chosen when it is first acted on
    };

    bool receive(const tavrelo::ipc::EndpointId &sender, const QByteArray &data);
    void queue(const QByteArray &message, std::int64_t sender, const QByteArray &data);
    void actOnQueued();
    // False when the page could not take the event yet and it must be raised again later.
    bool act(Queued &queued);
    bool actOnChange(const Queued &queued);
    bool actOnOpen(Queued &queued);
    void resetValues();
    // False while the page waits for a call: a handler would run only after it, when the values
    // it reads are gone, so the event is offered again later.
    bool pageCanRunHandlers() const;

    std::unique_ptr<NotificationOwner> m_owner;
    std::unique_ptr<tavrelo::ipc::Endpoint> m_endpoint;
    bool m_closing = false;
    QList<Queued> m_queue;
    std::optional<Queued> m_current; // being acted on, or waiting for the page
    bool m_acting = false;
    QTimer m_retry;
    int m_retryMs; // how long to wait before the event is offered again

    QByteArray m_changePath;
    std::int32_t m_changeFolderId = -1;
    QByteArray m_openPath;
    QByteArray m_activationToken; // the desktop's token of the latest file-open request, until used
};

// Holds the notification mutex for its lifetime, if it could be taken. Nothing waits for another
// lock while it is held: collection locks come first, this mutex last. A page that waits for it
// passes the hooks of its wait indicator, whose Cancel gives up.
class NotificationMutex {
public:
    explicit NotificationMutex(const sync::WaitHooks &hooks = {});
    ~NotificationMutex();
    NotificationMutex(const NotificationMutex &) = delete;
    NotificationMutex &operator=(const NotificationMutex &) = delete;
    bool held() const { return m_held; }

private:
    bool m_held;
};

} // namespace tavrelo::messaging
