#include "fileservice.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QJsonObject>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrelo::htahost {

namespace {

constexpr qsizetype kIdentityHead = 4096; // the bytes of a file that its identity digests

HRESULT resultOf(QFileDevice::FileError error, const QString &path)
{
    switch (error) {
    case QFileDevice::PermissionsError:
        return E_ACCESSDENIED;
    case QFileDevice::OpenError:
        return QFile::exists(path) ? E_ACCESSDENIED
                                   : (QFileInfo(path).dir().exists() ? HRESULT_FROM_WIN32(2) : HRESULT_FROM_WIN32(3));
    default:
        return E_FAIL;
    }
}

CallResult checkPath(const QString &path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return CallResult::failure(E_INVALIDARG, QStringLiteral("'%1' is not an absolute path.").arg(path));
    return {};
}

CallResult refused(const QString &path, const QString &reason)
{
    return CallResult::failure(E_NOT_A_READABLE_FILE, QStringLiteral("Cannot read '%1': %2").arg(path, reason));
}

QString tooLarge() { return QStringLiteral("it is larger than %1 GiB.").arg(kMaxReadBytes >> 30); }

// Why the file of `status` is not read; empty when it is.
QString refusalOf(const struct stat &status)
{
    if (S_ISDIR(status.st_mode))
        return QStringLiteral("it is a folder.");
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("it is not a regular file.");
    if (status.st_size > kMaxReadBytes)
        return tooLarge();
    return {};
}

// The identity of an open file whose status is `status` and whose first bytes are `head`.
QString identityOf(const struct stat &status, QByteArrayView head)
{
    return QStringLiteral("%1:%2:%3:%4.%5:%6.%7:%8")
        .arg(quint64(status.st_dev))
        .arg(quint64(status.st_ino))
        .arg(qint64(status.st_size))
        .arg(qint64(status.st_mtim.tv_sec))
        .arg(qint64(status.st_mtim.tv_nsec))
        .arg(qint64(status.st_ctim.tv_sec))
        .arg(qint64(status.st_ctim.tv_nsec))
        .arg(QString::fromLatin1(QCryptographicHash::hash(head.first(std::min(head.size(), kIdentityHead)), QCryptographicHash::Sha1).toHex()));
}

bool sameStatus(const struct stat &one, const struct stat &two)
{
    return one.st_dev == two.st_dev && one.st_ino == two.st_ino && one.st_size == two.st_size &&
           one.st_mtim.tv_sec == two.st_mtim.tv_sec && one.st_mtim.tv_nsec == two.st_mtim.tv_nsec &&
           one.st_ctim.tv_sec == two.st_ctim.tv_sec && one.st_ctim.tv_nsec == two.st_ctim.tv_nsec;
}

// Opens a file for reading without waiting (a pipe waits for a writer, a device may do
// something by itself): looked at before it is opened and again through the open file, in
// case the path was replaced in between. The descriptor, or -1 with `failed` set.
int openReadable(const QString &path, struct stat *status, CallResult *failed)
{
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), status) == 0) {
        if (const QString reason = refusalOf(*status); !reason.isEmpty()) {
            *failed = refused(path, reason);
            return -1;
        }
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        const HRESULT hr = error == EACCES || error == EPERM ? E_ACCESSDENIED
                           : error == ENOENT ? (QFileInfo(path).dir().exists() ? HRESULT_FROM_WIN32(2) : HRESULT_FROM_WIN32(3))
                           : error == ENOTDIR ? HRESULT_FROM_WIN32(3)
                                              : E_FAIL;
        *failed = CallResult::failure(hr, QStringLiteral("Cannot read '%1': %2").arg(path, qt_error_string(error)));
        return -1;
    }
    if (::fstat(fd, status) != 0) {
        *failed = CallResult::failure(E_FAIL, QStringLiteral("Cannot read '%1': %2").arg(path, qt_error_string(errno)));
        ::close(fd);
        return -1;
    }
    if (const QString reason = refusalOf(*status); !reason.isEmpty()) {
        *failed = refused(path, reason);
        ::close(fd);
        return -1;
    }
    return fd;
}

// The whole file, and its identity when it did not change while it was read.
CallResult readBytes(const QString &path, QByteArray *bytes, QString *identity = nullptr)
{
    struct stat before {};
    CallResult failed;
    const int fd = openReadable(path, &before, &failed);
    if (fd < 0)
        return failed;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return CallResult::failure(E_FAIL, QStringLiteral("Cannot read '%1': %2").arg(path, file.errorString()));
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return CallResult::failure(E_FAIL, QStringLiteral("Cannot read '%1': %2").arg(path, file.errorString()));
    if (bytes->size() > kMaxReadBytes) { // it grew while it was read
        bytes->clear();
        return refused(path, tooLarge());
    }
    struct stat after {};
    if (identity)
        *identity = ::fstat(fd, &after) == 0 && sameStatus(before, after) && after.st_size == bytes->size()
                        ? identityOf(after, *bytes)
                        : QString();
    return {};
}

// The encoding the XML declaration of the text names, in lower case; empty when none.
QString declaredEncoding(const QByteArray &bytes)
{
    static const QRegularExpression declaration(
        QStringLiteral(R"(^<\?xml[^>]*\bencoding\s*=\s*["']([A-Za-z0-9._-]+)["'])"));
    const QRegularExpressionMatch match = declaration.match(QString::fromLatin1(bytes.left(200)));
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

// The text as UTF-8: as it is when it is UTF-8 already (without its byte-order mark), else
// decoded by its byte-order mark or declared encoding and encoded again.
QByteArray toUtf8(QByteArray bytes)
{
    const auto byBom = QStringConverter::encodingForData(bytes);
    if (byBom == QStringConverter::Utf8)
        return bytes.sliced(3);
    if (byBom) {
        QStringDecoder decoder(*byBom);
        return QString(decoder.decode(bytes)).toUtf8();
    }
    const QString name = declaredEncoding(bytes);
    if (name.isEmpty() || name == u"utf-8" || name == u"utf8")
        return bytes;
    if (name == u"windows-1252" || name == u"iso-8859-1" || name == u"us-ascii" || name == u"latin1")
        return QString::fromLatin1(bytes).toUtf8();
    if (const auto named = QStringConverter::encodingForName(name.toLatin1().constData())) {
        QStringDecoder decoder(*named);
        return QString(decoder.decode(bytes)).toUtf8();
    }
    return bytes;
}

// The system's error as a result code.
HRESULT resultOfErrno(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return E_ACCESSDENIED;
    case ENOENT:
    case ENOTDIR:
        return HRESULT_FROM_WIN32(3);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return E_DISK_FULL;
    default:
        return E_FAIL;
    }
}

// The mask of permissions that new files do not get.
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (line.startsWith("Umask:"))
                return static_cast<mode_t>(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 022;
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(std::min<qint64>(size, 1 << 30)));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

}

CallResult readFile(const QString &path, FileRead *read)
{
    if (CallResult bad = checkPath(path); FAILED(bad.hr))
        return bad;
    QByteArray bytes;
    if (CallResult failed = readBytes(path, &bytes, &read->identity); FAILED(failed.hr))
        return failed;
    read->utf8 = toUtf8(std::move(bytes));
    return {};
}

CallResult openUtf8File(const QString &path, OpenedFile *opened)
{
    constexpr qsizetype kHead = 64 * 1024;
    if (CallResult bad = checkPath(path); FAILED(bad.hr))
        return bad;
    struct stat status {};
    CallResult failed;
    const int fd = openReadable(path, &status, &failed);
    if (fd < 0)
        return failed;
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return CallResult::failure(E_FAIL, QStringLiteral("Cannot read '%1': %2").arg(path, file->errorString()));
    }
    opened->head.resize(kHead);
    const ssize_t got = ::pread(fd, opened->head.data(), size_t(kHead), 0);
    if (got < 0)
        return CallResult::failure(E_FAIL, QStringLiteral("Cannot read '%1': %2").arg(path, qt_error_string(errno)));
    opened->head.truncate(got);
    opened->identity = identityOf(status, opened->head);
    const auto byBom = QStringConverter::encodingForData(opened->head);
    const QString declared = declaredEncoding(opened->head);
    if (byBom ? *byBom == QStringConverter::Utf8 : declared.isEmpty() || declared == u"utf-8" || declared == u"utf8")
        opened->file = std::move(file);
    return {};
}

CallResult readTextFile(const QString &path)
{
    FileRead read;
    if (CallResult failed = readFile(path, &read); FAILED(failed.hr))
        return failed;
    return {QString::fromUtf8(read.utf8)};
}

QString fileIdentity(const QString &path)
{
    struct stat status {};
    CallResult failed;
    const int fd = openReadable(path, &status, &failed);
    if (fd < 0)
        return {};
    char head[kIdentityHead];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    return got < 0 ? QString() : identityOf(status, QByteArrayView(head, got));
}

CallResult writeFailure(const QString &path, int error)
{
    return CallResult::failure(resultOfErrno(error), QStringLiteral("Cannot write '%1': %2").arg(path, qt_error_string(error)));
}

CallResult checkWritable(const QString &path, unsigned *mode)
{
    if (CallResult bad = checkPath(path); FAILED(bad.hr))
        return bad;
    const QByteArray name = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    struct stat status {};
    if (::stat(folder.constData(), &status) != 0)
        return writeFailure(path, errno);
    if (!S_ISDIR(status.st_mode))
        return writeFailure(path, ENOTDIR);
    if (::stat(name.constData(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            return writeFailure(path, EISDIR);
        // A file that its owner made read-only stays as it is, also for the superuser, whom
        // the system would let replace it.
        if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(name.constData(), W_OK) != 0)
            return writeFailure(path, EACCES);
        *mode = status.st_mode & 07777;
    } else if (errno == ENOENT) {
        *mode = 0666 & ~currentUmask();
    } else {
        return writeFailure(path, errno);
    }
    return {};
}

QString temporaryNameBeside(const QString &path)
{
    const QFileInfo info(path);
    for (;;) {
        const QString name = info.dir().filePath(QStringLiteral(".%1.%2.saving")
                                                     .arg(info.fileName())
                                                     .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
        if (!QFileInfo::exists(name))
            return name;
    }
}

CallResult commitTemporary(const QString &temporary, const QString &path, unsigned mode)
{
    const QByteArray from = QFile::encodeName(temporary), to = QFile::encodeName(path);
    const int fd = ::open(from.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    const auto failed = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(from.constData());
        return writeFailure(path, error);
    };
    if (fd < 0)
        return failed(errno);
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0 || ::fsync(fd) != 0 || ::rename(from.constData(), to.constData()) != 0)
        return failed(errno);
    // The rename itself reaches the disk with its folder.
    if (const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    struct stat status {};
    char head[kIdentityHead];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    const bool known = ::fstat(fd, &status) == 0 && got >= 0;
    ::close(fd);
    return {QJsonObject{{QStringLiteral("identity"), known ? identityOf(status, QByteArrayView(head, got)) : QString()}}};
}

CallResult writeTextFile(const QString &path, const QString &text, const QString &encoding)
{
    const bool utf16 = encoding.compare(u"utf-16le", Qt::CaseInsensitive) == 0;
    if (!utf16 && !encoding.isEmpty())
        return CallResult::failure(E_INVALIDARG, QStringLiteral("Unknown text encoding '%1'.").arg(encoding));
    unsigned mode = 0;
    if (CallResult refusedWrite = checkWritable(path, &mode); FAILED(refusedWrite.hr))
        return refusedWrite;
    QByteArray bytes;
    if (utf16) {
        bytes = QByteArray("\xFF\xFE", 2); // the byte-order mark
        for (const QChar c : text) {
            bytes.append(char(c.unicode() & 0xFF));
            bytes.append(char(c.unicode() >> 8));
        }
    } else {
        bytes = text.toUtf8();
    }
    const QString temporary = temporaryNameBeside(path);
    const QByteArray name = QFile::encodeName(temporary);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return writeFailure(path, errno);
    if (!writeAll(fd, bytes.constData(), bytes.size())) {
        const int error = errno;
        ::close(fd);
        ::unlink(name.constData());
        return writeFailure(path, error);
    }
    ::close(fd);
    return commitTemporary(temporary, path, mode);
}

CallResult preserveDamagedFile(const QString &path)
{
    if (CallResult bad = checkPath(path); FAILED(bad.hr))
        return bad;
    QByteArray bytes;
    if (CallResult failed = readBytes(path, &bytes); FAILED(failed.hr))
        return failed;
    const QFileInfo info(path);
    const QString prefix = info.fileName() + QStringLiteral(".damaged-");
    const QDir folder = info.dir();
    for (const QFileInfo &earlier : folder.entryInfoList({prefix + u'*'}, QDir::Files | QDir::Hidden)) {
        QFile copy(earlier.filePath());
        if (earlier.size() == bytes.size() && copy.open(QIODevice::ReadOnly) && copy.readAll() == bytes)
            return {QJsonObject{{QStringLiteral("copy"), earlier.filePath()}, {QStringLiteral("made"), false}}};
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = folder.filePath(prefix + stamp);
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = folder.filePath(prefix + stamp + u'-' + QString::number(n));
    QSaveFile copy(name);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.flush() ||
        ::fsync(copy.handle()) != 0 || !copy.commit())
        return CallResult::failure(resultOf(copy.error(), name),
                                   QStringLiteral("Cannot keep a copy of '%1' as '%2': %3")
                                       .arg(path, name, copy.errorString()));
    return {QJsonObject{{QStringLiteral("copy"), name}, {QStringLiteral("made"), true}}};
}

} // namespace tavrelo::htahost
