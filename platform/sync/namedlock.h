#pragma once

// Named, recursive locks shared by every process of the user: the cross-process mutexes the
// helper object takes around each read and change of a collection file.
//
// A lock belongs to the process (its user-interface thread runs every page of a host, so all
// pages of one host share their locks, as the windows of one thread would): taking a name this
// process holds only counts up, and it is free for others when the count is back at zero. A lock
// whose holding process dies passes to the next waiter. Each name is an open file in the runtime
// folder, locked with flock(2), which the system releases with the process.
//
// Waiting never freezes the process's user interface: while a QCoreApplication exists the wait
// runs on a thread of its own and the caller's event loop keeps turning until the lock is taken.
// What that loop runs may wait in turn (another page asking for another lock): a lock is never
// taken for a wait that such a later wait has buried, since the process would then hold it while
// it waits for something else, in an order no other process knows of. The buried wait lets the
// lock go and goes on once the waits above it have ended.

#include <QByteArray>
#include <QString>

#include <functional>

namespace tavrelo::sync {

// What a caller can do about a long wait.
struct WaitHooks {
    // How long a wait goes on before `slow` is called.
    int slowAfterMs = 3000;
    // Called once, from the event loop, when the wait has gone on for slowAfterMs. `cancel` ends
    // the wait without the lock; it may be called then or later, from the event loop, and does
    // nothing once the wait has ended.
    std::function<void(const std::function<void()> &cancel)> slow;
    // Called when a wait for which `slow` was called ends, however it ends.
    std::function<void()> ended;
};

// Unavailable: a shared lock that cannot be had where it would be (below).
enum class LockResult { Taken, Failed, Cancelled, Unavailable };

// Takes the lock `name`, waiting as long as another process holds it or until the wait is
// cancelled. Failed (with the reason) when the lock file cannot be opened or the wait fails.
LockResult acquireNamedLock(const QByteArray &name, const WaitHooks &hooks, QString *error = nullptr);

// The same without hooks: true once the lock is held.
bool acquireNamedLock(const QByteArray &name, QString *error = nullptr);

// Gives up one hold of `name`; false when this process does not hold it.
bool releaseNamedLock(const QByteArray &name);

// The lock that the file system itself carries, for processes of other users and machines: an
// open-file-description lock (fcntl F_OFD_SETLKW) on the lock file at `path`, made when missing
// and never removed (removing it while another waits would split the lock). Recursive like a
// named lock, released with the process (or by the server's lease on a network file system).
// Unavailable where no such file can be opened (a read-only share, a folder without permission)
// or the file system has no such locks.
LockResult acquireSharedLock(const QString &path, const WaitHooks &hooks, QString *error = nullptr);
bool releaseSharedLock(const QString &path);

// How often this process holds `name` (0 when it does not).
int namedLockCount(const QByteArray &name);

// The lock file of `name` in the runtime folder (names too long for a file name are hashed).
QString namedLockPath(const QByteArray &name);

}
