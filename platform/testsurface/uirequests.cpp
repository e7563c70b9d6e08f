#include "uirequests.h"

#include <QByteArrayList>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSaveFile>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tavrelo::testsurface {

namespace {

constexpr const char *kAnswersVariable = "TAVRELO_AUTOMATION";
constexpr const char *kLogVariable = "TAVRELO_AUTOMATION_LOG";

// Holds an exclusive flock on a file beside the answers while they are read and rewritten; the
// kernel releases it should the process die.
class FileLock final {
public:
    explicit FileLock(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        while (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    int m_fd;
};

// Lines that are not answers are reported once each per process.
void reportMalformed(const QString &path, const QByteArray &line)
{
    static QMutex mutex;
    static QSet<QByteArray> reported;
    const QMutexLocker locker(&mutex);
    if (reported.contains(line))
        return;
    reported.insert(line);
    std::fprintf(stderr, "%s: not a JSON object with a \"kind\", left in place: %s\n", QFile::encodeName(path).constData(),
                 line.constData());
}

}

bool uiIsScripted() { return qEnvironmentVariableIsSet(kAnswersVariable); }

std::optional<QJsonValue> takeScriptedAnswer(const QString &kind)
{
    const QString path = qEnvironmentVariable(kAnswersVariable);
    if (path.isEmpty())
        return std::nullopt;
    const FileLock lock(path + QStringLiteral(".lock"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArrayList lines = file.readAll().split('\n');
    file.close();

    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(lines[i]);
        const QJsonValue lineKind = document.object().value(QStringLiteral("kind"));
        if (!document.isObject() || !lineKind.isString()) {
            reportMalformed(path, lines[i]);
            continue;
        }
        if (lineKind.toString() != kind)
            continue;
        const QJsonValue answer = document.object().value(QStringLiteral("answer"));
        lines.removeAt(i);
        // Written beside and renamed over, so that a reader never sees half a file.
        QSaveFile rewritten(path);
        if (!rewritten.open(QIODevice::WriteOnly) || rewritten.write(lines.join('\n')) < 0 || !rewritten.commit())
            std::fprintf(stderr, "%s: cannot remove the answer taken\n", QFile::encodeName(path).constData());
        return answer;
    }
    return std::nullopt;
}

void logUiRequest(const QJsonObject &request)
{
    const QString path = qEnvironmentVariable(kLogVariable);
    if (path.isEmpty())
        return;
    // One write with O_APPEND: lines of several processes never interleave.
    const QByteArray line = QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n';
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (::write(fd, line.constData(), std::size_t(line.size())) != line.size())
        std::fprintf(stderr, "%s: cannot log a user-interface request\n", QFile::encodeName(path).constData());
    ::close(fd);
}

}
