// The host's file service against real files: a write that fails part-way leaves the old file
// whole, a read-only file is not replaced, a damaged file is copied aside only once, and what is
// no regular file of a readable size is refused before it is read.

#include "htahost/fileservice.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tavrelo::htahost;

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
// failed as it should, 1 when it succeeded, 2 when the preparation failed, 3 when it threw.
int inChild(const std::function<bool()> &prepare, const std::function<bool()> &work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        // The child never returns into the test: whatever happens, it ends here (3 when the
        // work threw, such as bad_alloc).
        try {
            if (!prepare())
                ::_exit(2);
            ::_exit(work() ? 1 : 0);
        } catch (...) {
            ::_exit(3);
        }
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

TEST(FileService, WhatIsNoRegularFileOfAReadableSizeIsRefusedBeforeItIsRead)
{
    QTemporaryDir scratch;
    const QString fifo = scratch.filePath(QStringLiteral("pipe.t-q"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString fifoLink = scratch.filePath(QStringLiteral("link-to-pipe.t-q"));
    ASSERT_TRUE(QFile::link(fifo, fifoLink));
    const QString socketPath = scratch.filePath(QStringLiteral("socket.t-q"));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketName = QFile::encodeName(socketPath);
    ASSERT_LT(size_t(socketName.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketName.constData(), size_t(socketName.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    const QString folder = scratch.filePath(QStringLiteral("folder.t-q"));
    ASSERT_TRUE(QDir().mkdir(folder));
    // Sparse: larger than the limit, yet it takes no room on the disk.
    const QString huge = scratch.filePath(QStringLiteral("huge.t-q"));
    writeBytes(huge, "<root/>");
    ASSERT_EQ(::truncate(QFile::encodeName(huge).constData(), kMaxReadBytes + 1), 0);

    struct Case {
        QString path;
        const char *reason;
    };
    const Case cases[] = {
        {QStringLiteral("/dev/zero"), "it is not a regular file."},
        {QStringLiteral("/dev/null"), "it is not a regular file."},
        {fifo, "it is not a regular file."},
        {fifoLink, "it is not a regular file."},
        {socketPath, "it is not a regular file."},
        {folder, "it is a folder."},
        {huge, "it is larger than 2 GiB."},
    };
    for (const Case &c : cases) {
        const QString expected = QStringLiteral("Cannot read '%1': %2").arg(c.path, QString::fromUtf8(c.reason));
        // In a child with a bound on its memory and its time, so that a read that never ends
        // fails here rather than taking the machine's memory or the test's time.
        const int code = inChild(
            [] {
                const rlimit memory{1u << 30, 1u << 30};
                ::alarm(60);
                return ::setrlimit(RLIMIT_AS, &memory) == 0;
            },
            [&] {
                for (const CallResult &read : {readTextFile(c.path), preserveDamagedFile(c.path)}) {
                    if (read.hr != E_NOT_A_READABLE_FILE || read.description != expected) {
                        std::fprintf(stderr, "%s: %08x %s\n", qPrintable(c.path), unsigned(read.hr),
                                     qPrintable(read.description));
                        return true;
                    }
                }
                return false;
            });
        EXPECT_EQ(code, 0) << c.path.toStdString() << " is refused: " << c.reason;
    }
    ::close(listener);
    EXPECT_EQ(QDir(scratch.path()).entryList({QStringLiteral("*.damaged-*")}, QDir::AllEntries | QDir::System | QDir::Hidden),
              QStringList()) << "no copies were made";

    // What is refused is told apart from what is missing, and a regular file still reads.
    EXPECT_EQ(readTextFile(scratch.filePath(QStringLiteral("missing.t-q"))).hr, HRESULT_FROM_WIN32(2));
    EXPECT_EQ(readTextFile(scratch.filePath(QStringLiteral("no/such/folder.t-q"))).hr, HRESULT_FROM_WIN32(3));
    const QString plain = scratch.filePath(QStringLiteral("plain.t-q"));
    writeBytes(plain, "<root/>");
    EXPECT_EQ(readTextFile(plain).result.toString(), QStringLiteral("<root/>"));
}
