#include "fileservice.h"

#include <QDateTime>
#include <QDir>
#include <QJsonObject>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

CallResult readBytes(const QString &path, QByteArray *bytes)
{
    // Looked at before it is opened: opening a pipe waits for a writer, and opening a device may
    // do something by itself.
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::stat(name.constData(), &status) == 0) {
        if (const QString reason = refusalOf(status); !reason.isEmpty())
            return refused(path, reason);
    }
    // Opened without waiting, and looked at again through the open file, in case the path was
    // replaced in between.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        const HRESULT hr = error == EACCES || error == EPERM ? E_ACCESSDENIED
                           : error == ENOENT ? (QFileInfo(path).dir().exists() ? HRESULT_FROM_WIN32(2) : HRESULT_FROM_WIN32(3))
                           : error == ENOTDIR ? HRESULT_FROM_WIN32(3)
                                              : E_FAIL;
        return CallResult::failure(hr, QStringLiteral("Cannot read '%1': %2").arg(path, qt_error_string(error)));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return CallResult::failure(E_FAIL, QStringLiteral("Cannot read '%1': %2").arg(path, file.errorString()));
    }
    if (::fstat(fd, &status) != 0)
        return CallResult::failure(E_FAIL, QStringLiteral("Cannot read '%1': %2").arg(path, qt_error_string(errno)));
    if (const QString reason = refusalOf(status); !reason.isEmpty())
        return refused(path, reason);
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return CallResult::failure(E_FAIL, QStringLiteral("Cannot read '%1': %2").arg(path, file.errorString()));
    if (bytes->size() > kMaxReadBytes) { // it grew while it was read
        bytes->clear();
        return refused(path, tooLarge());
    }
    return {};
}

QString decode(const QByteArray &bytes)
{
    if (const auto byBom = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*byBom);
        return decoder.decode(bytes);
    }
    static const QRegularExpression declaration(
        QStringLiteral(R"(^<\?xml[^>]*\bencoding\s*=\s*["']([A-Za-z0-9._-]+)["'])"));
    const QRegularExpressionMatch match = declaration.match(QString::fromLatin1(bytes.left(200)));
    if (match.hasMatch()) {
        const QString name = match.captured(1).toLower();
        if (name == u"windows-1252" || name == u"iso-8859-1" || name == u"us-ascii" || name == u"latin1")
            return QString::fromLatin1(bytes);
        if (const auto named = QStringConverter::encodingForName(name.toLatin1().constData())) {
            QStringDecoder decoder(*named);
            return decoder.decode(bytes);
        }
    }
    return QString::fromUtf8(bytes);
}

}

CallResult readTextFile(const QString &path)
{
    if (CallResult bad = checkPath(path); FAILED(bad.hr))
        return bad;
    QByteArray bytes;
    if (CallResult failed = readBytes(path, &bytes); FAILED(failed.hr))
        return failed;
    return {decode(bytes)};
}

CallResult writeTextFile(const QString &path, const QString &text, const QString &encoding)
{
    const bool utf16 = encoding.compare(u"utf-16le", Qt::CaseInsensitive) == 0;
    if (!utf16 && !encoding.isEmpty())
        return CallResult::failure(E_INVALIDARG, QStringLiteral("Unknown text encoding '%1'.").arg(encoding));
    if (CallResult bad = checkPath(path); FAILED(bad.hr))
        return bad;
    QSaveFile file(path);
    const auto failed = [&] {
        return CallResult::failure(resultOf(file.error(), path),
                                   QStringLiteral("Cannot write '%1': %2").arg(path, file.errorString()));
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed();
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
    if (file.write(bytes) != bytes.size() || !file.flush())
        return failed();
    if (::fsync(file.handle()) != 0)
        return CallResult::failure(E_FAIL, QStringLiteral("Cannot write '%1' to disk.").arg(path));
    if (!file.commit())
        return failed();
    return {true};
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
