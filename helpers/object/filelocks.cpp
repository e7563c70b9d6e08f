// LockFile and UnlockFile: a named, cross-process, recursive lock per collection path.

#include "quillet.h"
#include "waitindicator.h"

#include "sync/namedlock.h"

#include <QFileInfo>
#include <QLoggingCategory>

namespace tavrelo::helpers {

Q_LOGGING_CATEGORY(lcLocks, "tavrelo.helpers.locks")

// "Quillet$" and the path with A-Z lowered and "\", "/", ":" as "_", of which only the last 250
// bytes are kept when the name would reach 260 with its terminator. Every process derives the same
// name from the same path, so /home/ann/My.t-q and /HOME/ann/my.t-q share a lock.
QByteArray Quillet::lockNameOf(const QString &path)
{
    QByteArray name = path.toUtf8();
    for (char &c : name) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        else if (c == '\\' || c == '/' || c == ':')
            c = '_';
    }
    if (8 + name.size() + 1 >= 260)
        name = name.right(250);
    return QByteArrayLiteral("Quillet$") + name;
}

HRESULT Quillet::LockFile(const QString &fileName)
{
    if (fileName.isNull())
        return E_INVALIDARG;
    const QByteArray name = lockNameOf(fileName);
    QString error;
    // A long wait shows the indicator, and its Cancel or closing the window ends it (E_ABORT).
    const tavrelo::sync::WaitHooks hooks = waitindicator::hooksFor(this, waitindicator::fileWaitText(fileName));
    const tavrelo::sync::LockResult result = tavrelo::sync::acquireNamedLock(name, hooks, &error);
    if (result != tavrelo::sync::LockResult::Taken) {
        if (result == tavrelo::sync::LockResult::Failed)
            qCWarning(lcLocks) << "Cannot lock" << fileName << ":" << error;
        if (tavrelo::sync::namedLockCount(name) == 0)
            m_lockNames.removeAll(name);
        return result == tavrelo::sync::LockResult::Cancelled ? E_ABORT : E_FAIL;
    }
    // Besides, the lock the file system carries beside the collection, which keeps out the
    // processes of other users and machines (always taken second, so no two orders meet).
    // A path with no collection yet gets no lock file either: opening it and giving up leaves
    // nothing behind.
    const QString shared = sharedLockPathOf(fileName);
    const tavrelo::sync::LockResult sharedResult = QFileInfo::exists(fileName)
        ? tavrelo::sync::acquireSharedLock(shared, hooks, &error) : tavrelo::sync::LockResult::Unavailable;
    if (sharedResult == tavrelo::sync::LockResult::Failed || sharedResult == tavrelo::sync::LockResult::Cancelled) {
        if (sharedResult == tavrelo::sync::LockResult::Failed)
            qCWarning(lcLocks) << "Cannot lock" << shared << ":" << error;
        tavrelo::sync::releaseNamedLock(name);
        if (tavrelo::sync::namedLockCount(name) == 0)
            m_lockNames.removeAll(name);
        return sharedResult == tavrelo::sync::LockResult::Cancelled ? E_ABORT : E_FAIL;
    }
    if (sharedResult == tavrelo::sync::LockResult::Unavailable)
        qCInfo(lcLocks) << "No shared lock beside" << fileName << ":" << error;
    else
        m_sharedLocks[name].append(shared);
    if (!m_lockNames.contains(name))
        m_lockNames.append(name);
    return S_OK;
}

// ".<name>.lock" beside the collection.
QString Quillet::sharedLockPathOf(const QString &path)
{
    const QFileInfo file(path);
    return file.path() + QStringLiteral("/.") + file.fileName() + QStringLiteral(".lock");
}

HRESULT Quillet::UnlockFile(const QString &fileName)
{
    if (fileName.isNull())
        return E_INVALIDARG;
    const QByteArray name = lockNameOf(fileName);
    if (!m_lockNames.contains(name))
        return E_FAIL;
    if (auto shared = m_sharedLocks.find(name); shared != m_sharedLocks.end() && !shared->isEmpty()) {
        tavrelo::sync::releaseSharedLock(shared->takeLast());
        if (shared->isEmpty())
            m_sharedLocks.erase(shared);
    }
    if (!tavrelo::sync::releaseNamedLock(name)) {
        m_lockNames.removeAll(name);
        return E_FAIL;
    }
    return S_OK;
}

} // namespace tavrelo::helpers
