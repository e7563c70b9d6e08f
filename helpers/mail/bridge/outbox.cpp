#include "outbox.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace tavrelo::mailbridge {

namespace {

std::filesystem::path nativePath(const QString &path) { return QFile::encodeName(path).toStdString(); }

// Removes an entry with everything below it; links are removed, never followed.
void removeEntry(const QString &path)
{
    std::error_code ignored;
    std::filesystem::remove_all(nativePath(path), ignored);
}

// The outbox folder, made private; empty when it is a link, no folder, or someone else's.
QString privateFolder()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return {};
    const QString folder = cache + QStringLiteral("/clipvane/outbox");
    if (!QDir().mkpath(folder))
        return {};
    struct stat info {};
    const QByteArray native = QFile::encodeName(folder);
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        ::chmod(native.constData(), S_IRWXU) != 0)
        return {};
    return folder;
}

void removeOldCopies(const QString &folder)
{
    const QDateTime cutoff =
        QDateTime::currentDateTimeUtc().addSecs(-std::chrono::duration_cast<std::chrono::seconds>(kKeepCopies).count());
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        // Nothing here is ever a link of ours: one is removed (not its target) whatever its age.
        if (entry.isSymLink() || entry.lastModified() < cutoff)
            removeEntry(entry.filePath());
    }
}

bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(QChar(u'\0'));
}

} // namespace

Outbox::Outbox() : m_folder(privateFolder())
{
    if (isUsable())
        removeOldCopies(m_folder);
}

ULONG Outbox::add(const QString &source, const QString &shownName, QString *copy)
{
    const QFileInfo file(source);
    if (source.isEmpty() || !file.exists())
        return MAPI_E_ATTACHMENT_NOT_FOUND;
    QFile input(source);
    if (!file.isFile() || !input.open(QIODevice::ReadOnly))
        return MAPI_E_ATTACHMENT_OPEN_FAILURE;
    input.close();
    if (!isUsable())
        return MAPI_E_ATTACHMENT_WRITE_FAILURE;

    QTemporaryDir folder(m_folder + QStringLiteral("/XXXXXX")); // mode 0700
    if (!folder.isValid())
        return MAPI_E_ATTACHMENT_WRITE_FAILURE;
    folder.setAutoRemove(false);
    m_added << folder.path();
    const QString target = folder.filePath(isPlainFileName(shownName) ? shownName : file.fileName());
    if (!QFile::copy(source, target) || !QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner))
        return MAPI_E_ATTACHMENT_WRITE_FAILURE;
    *copy = target;
    return SUCCESS_SUCCESS;
}

void Outbox::discard()
{
    for (const QString &folder : std::as_const(m_added))
        removeEntry(folder);
    m_added.clear();
}

} // namespace tavrelo::mailbridge
