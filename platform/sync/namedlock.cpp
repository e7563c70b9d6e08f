#include "namedlock.h"

#include "runtimedir.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <utility>
#include <unistd.h>

namespace tavrelo::sync {

namespace {

// How often a wait that a later wait has buried looks whether it is on top again.
constexpr int kBuriedPollMs = 10;

struct Held {
    int fd = -1;   // the open file that holds the lock while count > 0; kept for the next time
    int count = 0;
};

// What a lock is taken on: a file of the runtime folder locked with flock(2), or a shared lock
// file beside a collection locked with an open-file-description lock, which network file systems
// pass on to their server. `key` names it in the process's table.
struct Target {
    QByteArray key;
    QString path;
    bool shared = false;
};

// One try without waiting: true when taken, false with errno when not.
bool lockNow(int fd, bool shared)
{
    if (!shared)
        return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

bool isBusy(int error) { return error == EWOULDBLOCK || error == EAGAIN || error == EACCES; }

void unlock(int fd, bool shared)
{
    if (!shared) {
        ::flock(fd, LOCK_UN);
        return;
    }
    struct flock range {};
    range.l_type = F_UNLCK;
    range.l_whence = SEEK_SET;
    ::fcntl(fd, F_OFD_SETLK, &range);
}

int openLockFile(const Target &target)
{
    // A shared lock file is made for everybody who may change the collection: a group folder's
    // members open it too.
    return ::open(QFile::encodeName(target.path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, target.shared ? 0666 : 0600);
}

// Locks are the process's, used from its user-interface thread.
QHash<QByteArray, Held> &heldLocks()
{
    static QHash<QByteArray, Held> locks;
    return locks;
}

bool lockBlocking(int fd, bool shared, int *error)
{
    int result;
    do {
        if (shared) {
            struct flock range {};
            range.l_type = F_WRLCK;
            range.l_whence = SEEK_SET;
            result = ::fcntl(fd, F_OFD_SETLKW, &range);
        } else {
            result = ::flock(fd, LOCK_EX);
        }
    } while (result != 0 && errno == EINTR);
    *error = result == 0 ? 0 : errno;
    return result == 0;
}

QString reason(int failure)
{
    return QStringLiteral("Waiting for the lock failed: %1").arg(QString::fromLocal8Bit(std::strerror(failure)));
}

// One try at the lock: a thread blocked in flock(2) on an open file of its own, which tells its
// outcome through an event file (a socket notifier sees it even in loops nested inside the
// handling of posted events, where an event posted from the thread could lie undelivered). A try
// that is given up gives back whatever its thread gets, at once: its open file is never the
// process's.
struct Attempt {
    enum : int { Pending, Locked, Failed, Abandoned };
    std::atomic<int> state{Pending};
    std::atomic<int> failure{0};
    int fd = -1;
    int done = -1;
    ~Attempt()
    {
        if (done >= 0)
            ::close(done);
    }

    static std::shared_ptr<Attempt> start(const Target &target, int *failure)
    {
        auto attempt = std::make_shared<Attempt>();
        attempt->fd = openLockFile(target);
        attempt->done = attempt->fd < 0 ? -1 : ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (attempt->fd < 0 || attempt->done < 0) {
            *failure = errno;
            if (attempt->fd >= 0)
                ::close(attempt->fd);
            return nullptr;
        }
        try {
            std::thread([attempt, shared = target.shared] {
                int error = 0;
                const bool locked = lockBlocking(attempt->fd, shared, &error);
                attempt->failure.store(error);
                int expected = Pending;
                if (!attempt->state.compare_exchange_strong(expected, locked ? Locked : Failed)) {
                    ::close(attempt->fd); // given up meanwhile
                    return;
                }
                const std::uint64_t one = 1;
                while (::write(attempt->done, &one, sizeof one) < 0 && errno == EINTR) {
                }
            }).detach();
        } catch (const std::system_error &e) {
            *failure = e.code().value();
            ::close(attempt->fd);
            return nullptr;
        }
        return attempt;
    }

    // Gives the try up; a lock it already got goes back.
    void abandon()
    {
        int expected = Pending;
        if (state.compare_exchange_strong(expected, Abandoned))
            return; // the thread closes its file when its flock(2) returns
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    // The process's lock from now on: the open file goes to the caller.
    int adopt()
    {
        return std::exchange(fd, -1);
    }
};

// A wait of one caller for a lock that another process holds. It keeps the caller's event loop
// turning, and takes the lock only while no later wait is nested above it.
class Wait {
public:
    Wait(Target target, const WaitHooks &hooks) : m_target(std::move(target)), m_hooks(hooks)
    {
        m_buried.setInterval(kBuriedPollMs);
        QObject::connect(&m_buried, &QTimer::timeout, [this] { step(); });
        m_slow.setSingleShot(true);
        QObject::connect(&m_slow, &QTimer::timeout, [this] { becomeSlow(); });
    }
    ~Wait()
    {
        m_notifier.reset();
        if (m_attempt)
            m_attempt->abandon();
        if (m_slowCalled && m_hooks.ended)
            m_hooks.ended();
    }
    Wait(const Wait &) = delete;
    Wait &operator=(const Wait &) = delete;

    LockResult run(QString *error)
    {
        // Inside the loop the level is one more than now; more than that, and a later loop runs.
        m_level = QThread::currentThread()->loopLevel() + 1;
        if (m_hooks.slow)
            m_slow.start(m_hooks.slowAfterMs);
        step();
        if (!m_result)
            m_loop.exec(QEventLoop::AllEvents);
        if (!m_result) { // the application quits, which ends every loop
            dropAttempt();
            m_result = LockResult::Cancelled;
        }
        if (*m_result == LockResult::Failed && error)
            *error = reason(m_failure);
        return *m_result;
    }

private:
    bool buried() const { return QThread::currentThread()->loopLevel() > m_level; }

    void step()
    {
        if (m_result)
            return;
        if (buried()) {
            // The process must not hold the lock while what runs above waits for something else.
            if (m_attempt && m_attempt->state.load() != Attempt::Pending)
                dropAttempt();
            m_buried.start();
            return;
        }
        m_buried.stop();
        Held &held = heldLocks()[m_target.key];
        if (held.count > 0) { // another wait of this process took it meanwhile
            ++held.count;
            dropAttempt();
            return finish(LockResult::Taken);
        }
        if (!m_attempt) {
            int failure = 0;
            m_attempt = Attempt::start(m_target, &failure);
            if (!m_attempt) {
                m_failure = failure;
                return finish(LockResult::Failed);
            }
            m_notifier = std::make_unique<QSocketNotifier>(m_attempt->done, QSocketNotifier::Read);
            QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
                std::uint64_t count = 0;
                while (::read(m_attempt->done, &count, sizeof count) < 0 && errno == EINTR) {
                }
                m_notifier->setEnabled(false);
                step();
            });
            return;
        }
        switch (m_attempt->state.load()) {
        case Attempt::Locked: {
            const int fd = m_attempt->adopt();
            if (held.fd >= 0)
                ::close(held.fd); // holds no lock: the process held none
            held.fd = fd;
            held.count = 1;
            dropAttempt();
            return finish(LockResult::Taken);
        }
        case Attempt::Failed:
            m_failure = m_attempt->failure.load();
            dropAttempt();
            return finish(LockResult::Failed);
        default:
            return;
        }
    }

    void dropAttempt()
    {
        m_notifier.reset();
        if (m_attempt)
            m_attempt->abandon();
        m_attempt.reset();
    }

    void becomeSlow()
    {
        if (m_result)
            return;
        m_slowCalled = true;
        const std::weak_ptr<bool> alive = m_alive;
        m_hooks.slow([this, alive] {
            if (alive.lock() && !m_result) {
                dropAttempt();
                finish(LockResult::Cancelled);
            }
        });
    }

    void finish(LockResult result)
    {
        m_result = result;
        m_buried.stop();
        m_slow.stop();
        if (m_loop.isRunning())
            m_loop.quit();
    }

    Target m_target;
    const WaitHooks &m_hooks;
    QEventLoop m_loop;
    int m_level = 0;
    std::shared_ptr<Attempt> m_attempt;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_buried, m_slow;
    std::optional<LockResult> m_result;
    int m_failure = 0;
    bool m_slowCalled = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true); // for cancels that come late
};

}

QString namedLockPath(const QByteArray &name)
{
    // A file name has at most 255 bytes; longer names (and any name with a slash) are hashed.
    const QString folder = runtimeDirectory() + QStringLiteral("/locks");
    if (name.size() <= 200 && !name.contains('/') && name != "." && name != "..")
        return folder + u'/' + QString::fromUtf8(name);
    return folder + QStringLiteral("/hashed-") +
           QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex());
}

namespace {

LockResult acquire(const Target &target, const WaitHooks &hooks, QString *error)
{
    auto &locks = heldLocks();
    {
        Held &held = locks[target.key];
        if (held.count > 0) {
            ++held.count;
            return LockResult::Taken;
        }
        if (held.fd < 0) {
            const QByteArray folder = QFile::encodeName(target.path.left(target.path.lastIndexOf(u'/')));
            if (!target.shared && ::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
                if (error)
                    *error = QStringLiteral("Cannot make the lock folder %1: %2")
                                 .arg(QFile::decodeName(folder), QString::fromLocal8Bit(std::strerror(errno)));
                locks.remove(target.key);
                return LockResult::Failed;
            }
            held.fd = openLockFile(target);
            if (held.fd < 0) {
                const int failure = errno;
                if (error)
                    *error = QStringLiteral("Cannot open the lock file %1: %2")
                                 .arg(target.path, QString::fromLocal8Bit(std::strerror(failure)));
                locks.remove(target.key);
                // Where nobody may make a file (a read-only share, a folder of somebody else's)
                // nobody can save either: the collection is only read there.
                const bool nowhere = failure == EACCES || failure == EROFS || failure == EPERM || failure == ENOENT;
                return target.shared && nowhere ? LockResult::Unavailable : LockResult::Failed;
            }
        }
        if (lockNow(held.fd, target.shared)) {
            held.count = 1;
            return LockResult::Taken;
        }
        if (target.shared && (errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP))
            return LockResult::Unavailable; // a file system without such locks
        if (!isBusy(errno) || !QCoreApplication::instance()) {
            int failure = errno;
            if (isBusy(errno) && lockBlocking(held.fd, target.shared, &failure)) {
                held.count = 1;
                return LockResult::Taken;
            }
            if (error)
                *error = reason(failure);
            return LockResult::Failed;
        }
    }
    // The reference above may not outlive what the wait's loop runs (other names are added).
    Wait wait(target, hooks);
    return wait.run(error);
}

bool release(const QByteArray &key, bool shared)
{
    auto &locks = heldLocks();
    const auto found = locks.find(key);
    if (found == locks.end() || found->count == 0)
        return false;
    if (--found->count == 0)
        unlock(found->fd, shared); // the file stays open for the next time
    return true;
}

QByteArray sharedKey(const QString &path)
{
    return QByteArrayLiteral("shared:") + path.toUtf8();
}

}

LockResult acquireNamedLock(const QByteArray &name, const WaitHooks &hooks, QString *error)
{
    return acquire({name, namedLockPath(name), false}, hooks, error);
}

LockResult acquireSharedLock(const QString &path, const WaitHooks &hooks, QString *error)
{
    return acquire({sharedKey(path), path, true}, hooks, error);
}

bool releaseSharedLock(const QString &path)
{
    return release(sharedKey(path), true);
}

bool acquireNamedLock(const QByteArray &name, QString *error)
{
    return acquireNamedLock(name, WaitHooks{}, error) == LockResult::Taken;
}

bool releaseNamedLock(const QByteArray &name)
{
    return release(name, false);
}

int namedLockCount(const QByteArray &name)
{
    return heldLocks().value(name).count;
}

}
