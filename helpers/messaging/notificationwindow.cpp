#include "notificationwindow.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QWidget>

#include <utility>

Q_LOGGING_CATEGORY(lcMessaging, "tavrelo.helpers.messaging")

namespace tavrelo::messaging {

namespace {

// How soon an event that the page could not take yet is offered again: soon at first, as most
// calls end quickly, then less and less often while the page waits (a dialog may stay open).
constexpr int kFirstRetryMs = 5;
constexpr int kLongestRetryMs = 100;

// A window is enabled for the user when no modal window of the process stands in front of it.
bool isWindowEnabled(QWidget *window)
{
    if (!window->isEnabled())
        return false;
    const QWidget *modal = QApplication::activeModalWidget();
    return !modal || modal->window() == window->window();
}

// On Wayland a window takes the focus only with an activation token of the desktop's: Qt's
// Wayland platform presents the one in XDG_ACTIVATION_TOKEN when the window asks to be
// activated, and removes it. A desktop that refuses it marks the window as wanting attention.
void bringToFront(QWidget *window, const QByteArray &activationToken)
{
    if (!activationToken.isEmpty() && QGuiApplication::platformName().startsWith(u"wayland"))
        qputenv("XDG_ACTIVATION_TOKEN", activationToken);
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

NotificationMutex::NotificationMutex(const sync::WaitHooks &hooks)
    : m_held(sync::acquireNamedLock(kNotificationMutex, hooks) == sync::LockResult::Taken)
{
    if (!m_held)
        qCWarning(lcMessaging) << "the notification mutex cannot be taken";
}

NotificationMutex::~NotificationMutex()
{
    if (m_held)
        tavrelo::sync::releaseNamedLock(kNotificationMutex);
}

NotificationWindow::NotificationWindow(std::unique_ptr<NotificationOwner> owner)
    : m_owner(std::move(owner)), m_retryMs(kFirstRetryMs)
{
    m_retry.setSingleShot(true);
    m_retry.callOnTimeout([this] { actOnQueued(); });

    const NotificationMutex mutex; // a failure does not stop the window being made
    m_endpoint = std::make_unique<tavrelo::ipc::Endpoint>(kNotificationClass, kNotificationTitle);
    if (!m_endpoint->isValid()) {
        qCWarning(lcMessaging) << "no notification window:" << m_endpoint->errorString();
        return;
    }
    m_endpoint->setWindowProperty(kMainWindowProperty, 0);
    m_endpoint->setRecordHandler([this](const tavrelo::ipc::EndpointId &sender, std::uint32_t tag, const QByteArray &data) {
        if (tag == kActivationTag && !m_closing && data.size() <= kMaxTokenBytes) {
            m_activationToken = data; // for the file-open request that follows
            return true;
        }
        return receive(sender, data);
    });
    m_endpoint->setMessageHandler(
        [this](const QByteArray &message, std::int64_t wParam, std::int64_t, const QByteArray &data) {
            queue(message, wParam, data);
        });
}

NotificationWindow::~NotificationWindow()
{
    m_closing = true; // records arriving while the mutex is awaited are refused
    m_retry.stop();
    const NotificationMutex mutex;
    if (!mutex.held() || !m_endpoint->isValid())
        return;
    m_endpoint->removeWindowProperty(kMainWindowProperty);
    const int dropped = m_endpoint->discardPosted(kChangeMessage) + m_endpoint->discardPosted(kOpenMessage);
    if (dropped + m_queue.size() > 0)
        qCDebug(lcMessaging) << "dropping" << dropped + m_queue.size() << "queued notifications";
    m_queue.clear();
}

tavrelo::ipc::EndpointId NotificationWindow::id() const
{
    return m_endpoint->id();
}

void NotificationWindow::markAsViewer()
{
    m_endpoint->removeWindowProperty(kMainWindowProperty);
    m_endpoint->setWindowProperty(kMainWindowProperty, 1);
}

bool NotificationWindow::receive(const tavrelo::ipc::EndpointId &sender, const QByteArray &data)
{
    // No mutex and no script here: the sender waits for this answer.
    if (m_closing || (!sender.isEmpty() && sender == id()))
        return false;
    const std::optional<Record> record = parseRecord(data);
    if (!record)
        return false;
    m_endpoint->post(record->kind == Record::Kind::Change ? kChangeMessage : kOpenMessage,
                     tavrelo::ipc::endpointHandle(sender), 0, data);
    return true;
}

void NotificationWindow::queue(const QByteArray &message, std::int64_t sender, const QByteArray &data)
{
    const std::optional<Record> record = parseRecord(data);
    const bool expected = message == (record && record->kind == Record::Kind::Change ? kChangeMessage : kOpenMessage);
    if (!record || !expected)
        return;
    m_queue.append({*record, sender, std::nullopt});
    actOnQueued();
}

void NotificationWindow::actOnQueued()
{
    // One message at a time: while an event runs, nested event loops may deliver more, which wait.
    // Nothing is acted on once the object is going (it may already have no references left).
    if (m_acting || m_closing)
        return;
    // The page may let the helper object go in its event handler.
    const ComPtr<IUnknown> keepAlive = m_owner->keepAlive();
    m_acting = true;
    while (!m_closing && (m_current || !m_queue.isEmpty())) {
        if (!m_current)
            m_current = m_queue.takeFirst();
        if (!act(*m_current)) {
            m_retry.start(m_retryMs);
            m_retryMs = std::min(m_retryMs * 2, kLongestRetryMs);
            break;
        }
        m_current.reset();
        m_retryMs = kFirstRetryMs;
    }
    m_acting = false;
}

bool NotificationWindow::act(Queued &queued)
{
    return queued.record.kind == Record::Kind::Change ? actOnChange(queued) : actOnOpen(queued);
}

bool NotificationWindow::pageCanRunHandlers() const
{
    ComPtr<IScriptTurnSite> site;
    if (FAILED(m_owner->site(IID_IScriptTurnSite, reinterpret_cast<void **>(site.put()))) || !site)
        return true;
    return site->CanRunHandlersNow() != S_FALSE;
}

// Acting on a message takes no lock: the page's handler may wait for a collection lock (a reload,
// a save before another file is opened), and the writer that holds it takes the notification
// mutex to announce its save. Holding the mutex here closed that circle for good.
bool NotificationWindow::actOnChange(const Queued &queued)
{
    resetValues();
    bool done = true;
    if (queued.sender != tavrelo::ipc::endpointHandle(id())) {
        done = pageCanRunHandlers();
        if (done) {
            m_changePath = queued.record.path;
            m_changeFolderId = queued.record.folderId;
            m_owner->raiseEvent(NotificationOwner::Event::FileChanged);
        }
    }
    resetValues();
    return done;
}

bool NotificationWindow::actOnOpen(Queued &queued)
{
    resetValues();
    if (!queued.event) {
        // Decided once: a request that waits for the page keeps the event it was given.
        QWidget *window = m_owner->hostWindow();
        if (!window) {
            queued.event = NotificationOwner::Event::Busy;
        } else {
            queued.event = isWindowEnabled(window) ? NotificationOwner::Event::FileOpenRequest
                                                   : NotificationOwner::Event::Busy;
            bringToFront(window, std::exchange(m_activationToken, QByteArray()));
        }
    }
    const bool done = pageCanRunHandlers();
    if (done) {
        m_openPath = queued.record.path;
        m_owner->raiseEvent(*queued.event);
    }
    resetValues();
    return done;
}

void NotificationWindow::resetValues()
{
    m_changePath.clear();
    m_changeFolderId = -1;
    m_openPath.clear();
}

} // namespace tavrelo::messaging
