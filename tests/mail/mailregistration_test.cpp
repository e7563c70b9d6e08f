// Registration of our mail clients by the real clipvane-regsvr, with fake programs on PATH, a
// fake xdg-mime naming the mailto: handler and its desktop entry in a private data folder.

#include "support/mailtest.h"

#include "registry/regkey.h"
#include "registry/winreg.h"
#include "support/scratchregistry.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

using namespace tavrelo::registry;

namespace {

const QString kClients = QStringLiteral(MAIL_CLIENTS_DIR);
const QString kMailKey = QStringLiteral("SOFTWARE\\Clients\\Mail");

// The Mail key as "default" -> its default value and "<subkey>" -> "<display name>|<DllPath>".
QMap<QString, QString> mailKey()
{
    RegKey mail;
    QMap<QString, QString> found;
    if (RegKey::open(HKEY_LOCAL_MACHINE, kMailKey, KEY_READ, &mail) != ERROR_SUCCESS)
        return found;
    found.insert(QStringLiteral("default"), mail.string().value_or(QString()));
    for (const QString &subKey : mail.subKeys()) {
        RegKey client;
        RegKey::open(mail.handle(), subKey, KEY_QUERY_VALUE, &client);
        found.insert(subKey, client.string().value_or(QString()) + u'|' +
                                 client.string(QStringLiteral("DllPath")).value_or(QString()));
    }
    return found;
}

QString ours(const char *name, const char *file)
{
    return QLatin1String(name) + u'|' + kClients + u'/' + QLatin1String(file);
}

void setString(const QString &key, const char *name, const QByteArray &text)
{
    RegKey opened;
    ASSERT_EQ(RegKey::create(HKEY_LOCAL_MACHINE, key, &opened), ERROR_SUCCESS);
    ASSERT_EQ(opened.setString(QLatin1String(name), QString::fromUtf8(text)), ERROR_SUCCESS);
}

class MailRegistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QDir(m_dir.path()).mkpath(QStringLiteral("bin"));
        QDir(m_dir.path()).mkpath(QStringLiteral("data/applications"));
        qputenv("PATH", m_dir.filePath(QStringLiteral("bin")).toUtf8());
        qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_DATA_DIRS", m_dir.filePath(QStringLiteral("none")).toUtf8());
    }
    void TearDown() override
    {
        qputenv("PATH", m_path);
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_DATA_DIRS");
    }

    // Puts exactly these programs on PATH (with xdg-mime naming `handler`, when given, whose
    // desktop entry starts `exec`).
    void programs(const QStringList &names, const char *handler = nullptr, const char *exec = "")
    {
        QDir bin(m_dir.filePath(QStringLiteral("bin")));
        bin.removeRecursively();
        bin.mkpath(QStringLiteral("."));
        for (const QString &name : names)
            writeScript(bin.path(), name, "exit 0\n");
        if (!handler)
            return;
        writeScript(bin.path(), QStringLiteral("xdg-mime"),
                    QByteArray("[ \"$*\" = 'query default x-scheme-handler/mailto' ] || exit 1\necho ") + handler + '\n');
        writeFile(m_dir.filePath(QStringLiteral("data/applications/")) + QLatin1String(handler),
                  QByteArray("[Desktop Action Compose]\nExec=other\n\n[Desktop Entry]\nName=Mail\nExec=") + exec + '\n');
    }
    static void regsvr(const QStringList &options = {})
    {
        const ProcessResult result = runProgram(QStringLiteral(CLIPVANE_REGSVR), options + QStringList{kHelpersLibrary()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
    static QString kHelpersLibrary() { return QStringLiteral(TAVRELO_HELPERS_LIBRARY); }

    ScratchRegistry m_registry;
    QTemporaryDir m_dir;
    QByteArray m_path = qgetenv("PATH");
};

struct Row {
    QStringList programs;
    const char *handler;
    const char *exec;
    QMap<QString, QString> expected;
};

} // namespace

TEST_F(MailRegistration, oneEntryForEachInstalledProgramAndTheDesktopsDefault)
{
    const QStringList all{QStringLiteral("thunderbird"), QStringLiteral("evolution"), QStringLiteral("xdg-email")};
    const QString thunderbird = ours("Mozilla Thunderbird", "thunderbird.so");
    const QString evolution = ours("Evolution", "evolution.so");
    const QString xdgEmail = ours("Desktop default (xdg-email)", "xdg-email.so");
    const Row rows[] = {
        {all, "thunderbird.desktop", "thunderbird %u",
         {{"default", "Thunderbird"}, {"Thunderbird", thunderbird}, {"Evolution", evolution}, {"xdg-email", xdgEmail}}},
        // xdg-email drops attachments for any handler but Thunderbird.
        {all, "org.gnome.Evolution.desktop", "evolution %U",
         {{"default", "Evolution"}, {"Thunderbird", thunderbird}, {"Evolution", evolution}}},
        {{QStringLiteral("xdg-email")}, "thunderbird.desktop", "/opt/thunderbird/thunderbird %u",
         {{"default", "xdg-email"}, {"xdg-email", xdgEmail}}},
        {{QStringLiteral("xdg-email")}, "mutt.desktop", "mutt %u", {}},
        {{QStringLiteral("thunderbird"), QStringLiteral("xdg-email")}, "org.mozilla.Thunderbird.desktop",
         "\"/usr/bin/flatpak\" run org.mozilla.Thunderbird @@u %u @@", {{"default", "Thunderbird"}, {"Thunderbird", thunderbird}}},
        {{QStringLiteral("evolution")}, nullptr, "", {{"default", ""}, {"Evolution", evolution}}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.handler ? row.handler : "no xdg-mime");
        programs(row.programs, row.handler, row.exec);
        regsvr();
        EXPECT_EQ(mailKey(), row.expected);
        regsvr({QStringLiteral("-u")});
        RegKey software;
        EXPECT_EQ(RegKey::open(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Clients"), KEY_READ, &software),
                  ERROR_FILE_NOT_FOUND)
            << "nothing of ours is left";
    }
}

TEST_F(MailRegistration, entriesOfOthersStayAndStaleOnesOfOursGo)
{
    setString(kMailKey + QStringLiteral("\\Example"), "", "Example");
    setString(kMailKey + QStringLiteral("\\Example"), "DllPath", "/opt/example/mapi.so");
    setString(kMailKey + QStringLiteral("\\Evolution"), "DllPath", "/opt/evolution/mapi.so");
    setString(kMailKey, "", "Gone");
    const QString example = QStringLiteral("Example|/opt/example/mapi.so");
    const QString othersEvolution = QStringLiteral("|/opt/evolution/mapi.so");

    programs({QStringLiteral("thunderbird"), QStringLiteral("evolution")}, "thunderbird.desktop", "thunderbird");
    regsvr();
    EXPECT_EQ(mailKey(), (QMap<QString, QString>{{"default", "Thunderbird"}, // "Gone" named nothing
                                                  {"Example", example},
                                                  {"Evolution", othersEvolution},
                                                  {"Thunderbird", ours("Mozilla Thunderbird", "thunderbird.so")}}));

    setString(kMailKey, "", "Example");
    programs({QStringLiteral("evolution")}, "thunderbird.desktop", "thunderbird");
    regsvr();
    const QMap<QString, QString> others{{"default", "Example"}, {"Example", example}, {"Evolution", othersEvolution}};
    EXPECT_EQ(mailKey(), others) << "Thunderbird is gone; the default of another's client stays";
    regsvr({QStringLiteral("-u")});
    EXPECT_EQ(mailKey(), others);
}

TEST_F(MailRegistration, aUserWhoMayNotChangeTheMachineHiveRegistersWithoutMailClients)
{
    // The machine hive's folder is one that nobody may create, root included (sysfs). Without a
    // private registry the registration also writes the browsers' and the desktop's files: into
    // scratch folders, never the real ones.
    qunsetenv("TAVRELO_REGISTRY_DIR");
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", m_dir.filePath(QStringLiteral("home")).toUtf8());
    qputenv("TAVRELO_SYSTEM_ROOT", m_dir.filePath(QStringLiteral("system")).toUtf8());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", "/sys/clipvane-no-such-folder");
    programs({QStringLiteral("thunderbird")}, "thunderbird.desktop", "thunderbird");
    regsvr();
    EXPECT_EQ(mailKey(), (QMap<QString, QString>{}));
    EXPECT_TRUE(QFileInfo::exists(m_dir.filePath(QStringLiteral("config/tavrelo/user.reg"))))
        << "the class went to the user's hive";
    regsvr({QStringLiteral("-u")});
    qputenv("TAVRELO_REGISTRY_DIR", m_registry.path().toUtf8());
    qputenv("HOME", home);
    qunsetenv("TAVRELO_SYSTEM_ROOT");
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CONFIG_DIRS");
}
