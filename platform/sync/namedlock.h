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

#include <QByteArray>
#include <QString>

namespace tavrelo::sync {

// Takes the lock `name`, waiting as long as another process holds it. False (with the reason)
// when the lock file cannot be opened or the wait fails.
bool acquireNamedLock(const QByteArray &name, QString *error = nullptr);

// Gives up one hold of `name`; false when this process does not hold it.
bool releaseNamedLock(const QByteArray &name);

// How often this process holds `name` (0 when it does not).
int namedLockCount(const QByteArray &name);

// The lock file of `name` in the runtime folder (names too long for a file name are hashed).
QString namedLockPath(const QByteArray &name);

}
