// The host's file service against real files: a write that fails part-way leaves the old file
// whole, a read-only file is not replaced, and a damaged file is copied aside only once.

#include "fileservice.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Runs `work` in a child process prepared by `prepare`; the child's exit code: 0 when the write
// failed as it should, 1 when it succeeded, 2 when the preparation failed.
int inChild(const std::function<bool()> &prepare, const std::function<bool()> &work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (!prepare())
            ::_exit(2);
        ::_exit(work() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

}

TEST(FileService, AWriteThatRunsOutOfSpaceLeavesTheOldFileWhole)
{
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("collection.t-q"));
    const QByteArray old = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root TimeStamp=\"4\"/>\n";
    writeBytes(path, old);
    const QString big = QString(QStringLiteral("<root>%1</root>")).arg(QString(300000, u'x'));

    // A file-size limit makes the disk "full" after 64 KiB for the child only.
    const int code = inChild(
        [] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{64 * 1024, 64 * 1024};
            return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        },
        [&] { return SUCCEEDED(writeTextFile(path, big).hr); });
    EXPECT_EQ(code, 0) << "the write must report its failure";
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(folderEntries(scratch.path()), QStringList{QStringLiteral("collection.t-q")}) << "no partial file left";

    // Without the limit the same write succeeds and replaces the file.
    ASSERT_TRUE(SUCCEEDED(writeTextFile(path, big).hr));
    EXPECT_EQ(readAll(path), big.toUtf8());
}

TEST(FileService, AReadOnlyFileIsNotReplaced)
{
    QTemporaryDir scratch;
    QFile::setPermissions(scratch.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    const QString path = scratch.filePath(QStringLiteral("read-only.t-q"));
    writeBytes(path, "<root/>");
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther);

    // The superuser may write anything; the check runs as an ordinary user.
    const int code = inChild(
        [] { return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0); },
        [&] { return SUCCEEDED(writeTextFile(path, QStringLiteral("<root replaced=\"1\"/>")).hr); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readAll(path), QByteArray("<root/>"));
}

TEST(FileService, ADamagedFileIsCopiedAsideOnce)
{
    QTemporaryDir scratch;
    const QString path = scratch.filePath(QStringLiteral("damaged.t-q"));
    writeBytes(path, "<root><unclosed");

    const CallResult first = preserveDamagedFile(path);
    ASSERT_TRUE(SUCCEEDED(first.hr)) << first.description.toStdString();
    const QString copy = first.result.toObject().value(QStringLiteral("copy")).toString();
    EXPECT_TRUE(first.result.toObject().value(QStringLiteral("made")).toBool());
    EXPECT_TRUE(copy.startsWith(path + QStringLiteral(".damaged-"))) << copy.toStdString();
    EXPECT_EQ(readAll(copy), QByteArray("<root><unclosed"));

    const CallResult again = preserveDamagedFile(path);
    EXPECT_FALSE(again.result.toObject().value(QStringLiteral("made")).toBool());
    EXPECT_EQ(again.result.toObject().value(QStringLiteral("copy")).toString(), copy);

    // Other damage is another copy, beside the first.
    writeBytes(path, "<root><other");
    const CallResult other = preserveDamagedFile(path);
    EXPECT_TRUE(other.result.toObject().value(QStringLiteral("made")).toBool());
    EXPECT_NE(other.result.toObject().value(QStringLiteral("copy")).toString(), copy);
    EXPECT_EQ(readAll(copy), QByteArray("<root><unclosed"));
    EXPECT_EQ(folderEntries(scratch.path()).size(), 3);

    EXPECT_TRUE(FAILED(preserveDamagedFile(scratch.filePath(QStringLiteral("missing.t-q"))).hr));
}
