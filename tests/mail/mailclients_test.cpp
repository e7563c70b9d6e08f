// Our mail clients, called through SendFileToMailClient as the viewer calls them, against fake
// mail programs on PATH: shell scripts that record their arguments and, once the test has checked
// that the call returned and the caller's file is gone, read the attachment they were given.

#include "support/mailtest.h"

#include "object/quillet.h"
#include "support/eventloop.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kClients = QStringLiteral(MAIL_CLIENTS_DIR);

// A fake program: "<name>\n<arg>\n<arg>..." into $FAKE_MAIL_DIR/args; then, when the test made
// the pipe "go", it waits for a path on it and copies that file to "read".
const QByteArray kFakeProgram = R"(dir="$FAKE_MAIL_DIR"
printf '%s\n' "${0##*/}" "$@" > "$dir/args.part" && /bin/mv "$dir/args.part" "$dir/args"
if [ -p "$dir/go" ]; then
    read -r path < "$dir/go"
    /bin/cat "$path" > "$dir/read.part" && /bin/mv "$dir/read.part" "$dir/read"
fi
)";

// A scratch desk: PATH holding only the fake programs written into it, the cache (and so the
// outbox) and the fake's folder in a private folder, for as long as the object lives.
class Desk final {
public:
    Desk() : m_path(qgetenv("PATH"))
    {
        EXPECT_TRUE(m_dir.isValid());
        QDir(m_dir.path()).mkpath(QStringLiteral("bin"));
        qputenv("PATH", file("bin").toUtf8());
        qputenv("XDG_CACHE_HOME", file("cache").toUtf8());
        qputenv("FAKE_MAIL_DIR", m_dir.path().toUtf8());
    }
    ~Desk()
    {
        qputenv("PATH", m_path);
        qunsetenv("XDG_CACHE_HOME");
        qunsetenv("FAKE_MAIL_DIR");
    }
    Desk(const Desk &) = delete;
    Desk &operator=(const Desk &) = delete;

    QString file(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    QString outbox() const { return file("cache") + QStringLiteral("/clipvane/outbox"); }
    void install(const char *program) const { writeScript(file("bin"), QLatin1String(program), kFakeProgram); }

    // Sends a new file of this name through the client library; the status.
    std::int32_t send(const char *library, const QString &name, const QByteArray &content = "<root/>")
    {
        const QString path = file("tmp") + u'/' + name;
        QDir().mkpath(file("tmp"));
        writeFile(path, content);
        std::int32_t status = -1;
        EXPECT_EQ(m_helper->SendFileToMailClient(path, QStringLiteral("Example"),
                                                 kClients + u'/' + QLatin1String(library), &status),
                  S_OK);
        EXPECT_FALSE(QFileInfo::exists(path)) << "the caller's file is consumed";
        return status;
    }
    QStringList outboxEntries() const
    {
        return QDir(outbox()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    }

private:
    QByteArray m_path;
    QTemporaryDir m_dir;
    ComPtr<Quillet> m_helper = Quillet::create();
};

QStringList lines(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                          : QStringList();
}

void setAge(const QString &path, int days)
{
    std::filesystem::last_write_time(QFile::encodeName(path).toStdString(),
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * days));
}

struct Row {
    const char *library;
    const char *program;
    // The arguments expected for a copy in `folder` (a path of plain characters) named as sent.
    QStringList (*arguments)(const QString &folder);
};

const Row kRows[] = {
    {"thunderbird.so", "thunderbird",
     [](const QString &folder) {
         return QStringList{QStringLiteral("-compose"),
                            QStringLiteral("attachment='file://%1/Quotes%2C%20%27n%27%20more.t-q'").arg(folder)};
     }},
    {"evolution.so", "evolution",
     [](const QString &folder) {
         return QStringList{QStringLiteral("mailto:?attach=%1%2FQuotes%2C%20%27n%27%20more.t-q")
                                .arg(QString(folder).replace(u'/', QStringLiteral("%2F")))};
     }},
    {"xdg-email.so", "xdg-email",
     [](const QString &folder) {
         return QStringList{QStringLiteral("--utf8"), QStringLiteral("--attach"),
                            folder + QStringLiteral("/Quotes, 'n' more.t-q")};
     }},
};

} // namespace

TEST(MailClients, eachProgramGetsItsCommandLineAndReadsTheCopyAfterTheCallReturned)
{
    ensureApplication();
    const QString name = QStringLiteral("Quotes, 'n' more.t-q");
    for (const Row &row : kRows) {
        SCOPED_TRACE(row.program);
        Desk desk;
        desk.install(row.program);
        ASSERT_EQ(::mkfifo(QFile::encodeName(desk.file("go")).constData(), 0600), 0);
        const QByteArray content = QByteArray("<root>") + row.program + "</root>";

        ASSERT_EQ(desk.send(row.library, name, content), 0);
        ASSERT_TRUE(turnUntil([&] { return QFileInfo::exists(desk.file("args")); })) << "the program ran";
        const QStringList entries = desk.outboxEntries();
        ASSERT_EQ(entries.size(), 1);
        const QString folder = desk.outbox() + u'/' + entries.first();
        ASSERT_EQ(QDir(folder).entryList(QDir::Files), QStringList{name});
        ASSERT_TRUE(QRegularExpression(QStringLiteral("^[A-Za-z0-9/._-]+$")).match(folder).hasMatch()) << "plain";
        EXPECT_EQ(lines(desk.file("args")), QStringList{QLatin1String(row.program)} + row.arguments(folder));
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(desk.outbox()).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << "the outbox is private";

        // Only now does the program read its attachment.
        int go = -1;
        ASSERT_TRUE(turnUntil([&] { return (go = ::open(QFile::encodeName(desk.file("go")).constData(),
                                                        O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; }));
        const QByteArray line = QFile::encodeName(folder + u'/' + name) + '\n';
        EXPECT_EQ(::write(go, line.constData(), static_cast<size_t>(line.size())), line.size());
        ::close(go);
        ASSERT_TRUE(turnUntil([&] { return QFileInfo::exists(desk.file("read")); }));
        QFile read(desk.file("read"));
        ASSERT_TRUE(read.open(QIODevice::ReadOnly));
        EXPECT_EQ(read.readAll(), content);
    }
}

TEST(MailClients, aMissingProgramOrAttachmentIsReportedAndLeavesNoCopy)
{
    ensureApplication();
    Desk desk;
    for (const Row &row : kRows)
        EXPECT_EQ(desk.send(row.library, QStringLiteral("Quotes.t-q")), 8) << row.program << " is not installed";
    EXPECT_EQ(desk.outboxEntries(), QStringList());

    desk.install("thunderbird");
    std::int32_t status = -1;
    ComPtr<Quillet> helper = Quillet::create();
    ASSERT_EQ(helper->SendFileToMailClient(desk.file("absent.t-q"), QStringLiteral("Example"),
                                           kClients + QStringLiteral("/thunderbird.so"), &status),
              S_OK);
    EXPECT_EQ(status, 14);
    EXPECT_EQ(desk.outboxEntries(), QStringList());
}

TEST(MailClients, oldCopiesGoAtTheNextSendAndLinksAreNeverFollowed)
{
    ensureApplication();
    Desk desk;
    desk.install("xdg-email");
    ASSERT_TRUE(QDir().mkpath(desk.outbox() + QStringLiteral("/old")));
    ASSERT_TRUE(QDir().mkpath(desk.outbox() + QStringLiteral("/recent")));
    ASSERT_TRUE(QDir().mkpath(desk.file("elsewhere")));
    writeFile(desk.file("elsewhere") + QStringLiteral("/keep.t-q"));
    writeFile(desk.outbox() + QStringLiteral("/old/Quotes.t-q"));
    ASSERT_TRUE(QFile::link(desk.file("elsewhere"), desk.outbox() + QStringLiteral("/link")));
    setAge(desk.outbox() + QStringLiteral("/old"), 8);
    setAge(desk.outbox() + QStringLiteral("/recent"), 6);

    ASSERT_EQ(desk.send("xdg-email.so", QStringLiteral("Quotes.t-q")), 0);
    QStringList entries = desk.outboxEntries();
    EXPECT_EQ(entries.size(), 2);
    EXPECT_TRUE(entries.contains(QStringLiteral("recent")));
    EXPECT_FALSE(entries.contains(QStringLiteral("old")));
    EXPECT_TRUE(QFileInfo::exists(desk.file("elsewhere") + QStringLiteral("/keep.t-q")));

    // An outbox that is a link leads somewhere else: nothing is copied there.
    ASSERT_TRUE(std::filesystem::remove_all(QFile::encodeName(desk.outbox()).toStdString()) > 0);
    ASSERT_TRUE(QFile::link(desk.file("elsewhere"), desk.outbox()));
    EXPECT_EQ(desk.send("xdg-email.so", QStringLiteral("Quotes.t-q")), 7);
    EXPECT_EQ(QDir(desk.file("elsewhere")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("keep.t-q")});
    ASSERT_TRUE(turnUntil([&] { return QFileInfo::exists(desk.file("args")); })) << "the first send's program ran";
}
