#include "namedlock.h"

#include "runtimedir.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QThread>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace tavrelo::sync {

namespace {

struct Held {
    int fd = -1;
    int count = 0;
    bool waiting = false; // a wait for the file lock is under way (the event loop turns meanwhile)
    QList<QEventLoop *> joiners; // pages of this process that wait for that wait to settle
};

// Locks are the process's, used from its user-interface thread.
QHash<QByteArray, Held> &heldLocks()
{
    static QHash<QByteArray, Held> locks;
    return locks;
}

bool lockBlocking(int fd, int *error)
{
    int result;
    do {
        result = ::flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    *error = result == 0 ? 0 : errno;
    return result == 0;
}

// Settles a wait for `name`: held once, or forgotten. Runs where the wait ends, so that a page
// that asked for the same name meanwhile (from inside the wait's event loop) sees it at once.
void settle(const QByteArray &name, bool locked, int failure, QString *error)
{
    auto &locks = heldLocks();
    Held &held = locks[name];
    held.waiting = false;
    for (QEventLoop *joiner : std::exchange(held.joiners, {}))
        joiner->quit();
    if (locked) {
        ++held.count;
        return;
    }
    ::close(held.fd);
    locks.remove(name);
    if (error)
        *error = QStringLiteral("Waiting for the lock failed: %1").arg(QString::fromLocal8Bit(std::strerror(failure)));
}

// Waits for the file lock; with an application, on a thread of its own while the events of this
// thread are handled. True when the lock was taken.
bool waitForLock(const QByteArray &name, int fd, QString *error)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        settle(name, true, 0, error);
        return true;
    }
    if (errno != EWOULDBLOCK || !QCoreApplication::instance()) {
        int failure = errno;
        const bool locked = errno == EWOULDBLOCK && lockBlocking(fd, &failure);
        settle(name, locked, failure, error);
        return locked;
    }
    heldLocks()[name].waiting = true;
    // The thread tells its outcome through an event file that a socket notifier watches: events
    // posted from another thread are not always delivered to loops nested inside the handling of
    // posted events, socket notifiers are.
    constexpr int kPending = -1;
    std::atomic<int> outcome{kPending}; // the error number, 0 when locked
    const int done = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (done < 0) {
        settle(name, false, errno, error);
        return false;
    }
    std::unique_ptr<QThread> waiter(QThread::create([&outcome, fd, done] {
        int failure = 0;
        outcome.store(lockBlocking(fd, &failure) ? 0 : failure);
        const std::uint64_t one = 1;
        while (::write(done, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }));
    QEventLoop loop;
    QSocketNotifier notifier(done, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
        if (outcome.load() == kPending)
            return;
        notifier.setEnabled(false);
        settle(name, outcome.load() == 0, outcome.load(), error);
        loop.quit();
    });
    waiter->start();
    loop.exec(QEventLoop::AllEvents);
    waiter->wait();
    ::close(done);
    return outcome.load() == 0;
}

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

bool acquireNamedLock(const QByteArray &name, QString *error)
{
    auto &locks = heldLocks();
    // Another page of this process waits for the name already: wait until that wait is settled
    // (which quits this loop).
    while (locks.value(name).waiting) {
        QEventLoop joiner;
        locks[name].joiners.append(&joiner);
        joiner.exec(QEventLoop::AllEvents);
    }
    Held &held = locks[name];
    if (held.count > 0) {
        ++held.count;
        return true;
    }
    if (held.fd < 0) {
        const QString path = namedLockPath(name);
        const QByteArray folder = QFile::encodeName(path.left(path.lastIndexOf(u'/')));
        if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
            if (error)
                *error = QStringLiteral("Cannot make the lock folder %1: %2")
                             .arg(QFile::decodeName(folder), QString::fromLocal8Bit(std::strerror(errno)));
            locks.remove(name);
            return false;
        }
        held.fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (held.fd < 0) {
            if (error)
                *error = QStringLiteral("Cannot open the lock file %1: %2")
                             .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            locks.remove(name);
            return false;
        }
    }
    return waitForLock(name, held.fd, error);
}

bool releaseNamedLock(const QByteArray &name)
{
    auto &locks = heldLocks();
    const auto found = locks.find(name);
    if (found == locks.end() || found->count == 0)
        return false;
    if (--found->count == 0)
        ::flock(found->fd, LOCK_UN); // the file stays open for the next time
    return true;
}

int namedLockCount(const QByteArray &name)
{
    return heldLocks().value(name).count;
}

}
