// GetTempFilePath: a file name that is free in the temporary folder, found by creating it.

#include "object/quillet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Creates the file exclusively, so that a name another file already has is never taken; the file
// is removed again at once and the caller creates it.
bool claim(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(native.constData());
    return true;
}

// A name or extension never leads out of the temporary folder: "/" (and NUL) become "_".
QString plainName(QString text)
{
    return text.replace(u'/', u'_').replace(QChar(u'\0'), u'_');
}

}

HRESULT Quillet::GetTempFilePath(const QString &fileName, const QString &extension, QString *path)
{
    if (fileName.isNull() || extension.isNull() || !path)
        return E_POINTER;
    path->clear();
    const QString folder = QDir::tempPath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return S_OK;
    const QString stem = QDir(folder).filePath(plainName(fileName));
    const QString suffix = plainName(extension);
    if (const QString first = QStringLiteral("%1.%2").arg(stem, suffix); claim(first)) {
        *path = first;
        return S_OK;
    }
    for (unsigned counter = 1; counter <= 9999; ++counter) {
        const QString candidate = QStringLiteral("%1 (%2).%3").arg(stem).arg(counter).arg(suffix);
        if (claim(candidate)) {
            *path = candidate;
            return S_OK;
        }
    }
    return S_OK;
}
