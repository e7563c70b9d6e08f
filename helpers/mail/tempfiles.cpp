// A file name that is free in the temporary folder, found by creating it.

#include "tempfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tavrelo::mail {

namespace {

enum class Claim { Taken, Exists, Failed };

// Creates the file exclusively, so that a name another file already has is never taken; the file
// is removed again at once and the caller creates it. Failed: the folder itself refuses (no
// permission, no space, a name too long), which no other candidate would change.
Claim claim(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno == EEXIST ? Claim::Exists : Claim::Failed;
    ::close(fd);
    ::unlink(native.constData());
    return Claim::Taken;
}

// A name or extension never leads out of the temporary folder: "/" (and NUL) become "_".
QString plainName(QString text)
{
    return text.replace(u'/', u'_').replace(QChar(u'\0'), u'_');
}

// The name of a file in the folder: one that names no file of its own there (empty, "." or "..",
// which would name the folder itself or its parent once the extension is missing) takes a
// name of its own.
QString fileNameIn(const QString &name)
{
    const QString plain = plainName(name);
    return plain.isEmpty() || plain == u"." || plain == u".." ? QStringLiteral("Collection") : plain;
}

}

QString freeTempFilePath(const QString &fileName, const QString &extension)
{
    const QString folder = QDir::tempPath(); // $TMPDIR, else /tmp
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return QString();
    const QString stem = QDir(folder).filePath(fileNameIn(fileName));
    // Without an extension there is no dot: Windows drops a trailing one from a file name, Linux
    // would keep it and the attachment would be named "name.".
    const QString suffix = extension.isEmpty() ? QString() : u'.' + plainName(extension);
    // "name.ext", then "name (1).ext" ... "name (9999).ext". The parts are put in at one go: a
    // name may hold "%2" itself.
    for (unsigned counter = 0; counter <= 9999; ++counter) {
        const QString candidate = counter == 0
                                      ? stem + suffix
                                      : QStringLiteral("%1 (%2)%3").arg(stem, QString::number(counter), suffix);
        const Claim claimed = claim(candidate);
        if (claimed == Claim::Taken)
            return candidate;
        if (claimed == Claim::Failed)
            break;
    }
    return QString();
}

} // namespace tavrelo::mail
