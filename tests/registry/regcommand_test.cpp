// The clipvane-reg command, run as a user or an administrator would.

#include "registry/winreg.h"
#include "support/scratchregistry.h"

#include <gtest/gtest.h>

using namespace tavrelo::registry;

namespace {

ProcessResult reg(const QStringList &arguments)
{
    return runProgram(QStringLiteral(CLIPVANE_REG_COMMAND), arguments);
}

// The command line as a person types it.
ProcessResult reg(std::initializer_list<const char *> arguments)
{
    QStringList list;
    for (const char *argument : arguments)
        list << QString::fromUtf8(argument);
    return reg(list);
}

QString key(const char *path) { return QString::fromUtf8(path); }

} // namespace

TEST(RegCommand, addsQueriesAndDeletesEveryType)
{
    ScratchRegistry registry;
    const char *settingsKey = "HKCU\\Software\\Tavrelo\\Quillet\\Quillet";
    const QString settings = key(settingsKey);
    EXPECT_EQ(reg({"add", settingsKey, "-v", "LastFile", "-d", "/home/zoë/My \"Clips\".t-q"}).exitCode, 0);
    EXPECT_EQ(reg({"add", settingsKey, "-v", "SortBy", "-t", "REG_DWORD", "-d", "-1"}).exitCode, 0);
    EXPECT_EQ(reg({"add", settingsKey, "-v", "Pane", "-t", "reg_dword", "-d", "0x1F"}).exitCode, 0);
    EXPECT_EQ(reg({"add", settingsKey, "-v", "WindowPos", "-t", "REG_BINARY", "-d", "2c000000FF"}).exitCode, 0);
    EXPECT_EQ(reg({"add", settingsKey, "--ve", "-t", "REG_EXPAND_SZ", "-d", "%HOME%/x"}).exitCode, 0);

    const ProcessResult all = reg({QStringLiteral("query"), settings});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.out, "HKEY_CURRENT_USER\\Software\\Tavrelo\\Quillet\\Quillet\n"
                       "    LastFile    REG_SZ    /home/zoë/My \"Clips\".t-q\n"
                       "    SortBy    REG_DWORD    0xffffffff\n"
                       "    Pane    REG_DWORD    0x1f\n"
                       "    WindowPos    REG_BINARY    2C000000FF\n"
                       "    (Default)    REG_EXPAND_SZ    %HOME%/x\n"
                       "\n");

    const ProcessResult one = reg({QStringLiteral("query"), key("hkey_current_user\\software\\tavrelo\\quillet\\quillet"),
                                   QStringLiteral("-v"), QStringLiteral("sortby")});
    EXPECT_EQ(one.out, "HKEY_CURRENT_USER\\software\\tavrelo\\quillet\\quillet\n    SortBy    REG_DWORD    0xffffffff\n");

    EXPECT_EQ(reg({QStringLiteral("delete"), settings, QStringLiteral("-v"), QStringLiteral("SortBy")}).exitCode, 0);
    EXPECT_EQ(reg({QStringLiteral("query"), settings, QStringLiteral("-v"), QStringLiteral("SortBy")}).exitCode, 1);
    EXPECT_EQ(reg({QStringLiteral("delete"), settings, QStringLiteral("--va")}).exitCode, 0);
    EXPECT_EQ(reg({QStringLiteral("query"), settings}).out, "HKEY_CURRENT_USER\\Software\\Tavrelo\\Quillet\\Quillet\n\n");
    EXPECT_EQ(reg({QStringLiteral("delete"), key("HKCU\\Software\\Tavrelo")}).exitCode, 0);
    const ProcessResult gone = reg({QStringLiteral("query"), settings});
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_NE(gone.err.find("not found"), std::string::npos) << gone.err;
}

TEST(RegCommand, setsMachineDefaultsThatTheProgramReads)
{
    ScratchRegistry registry;
    ASSERT_EQ(reg({QStringLiteral("add"), key("HKLM\\Software\\Clients\\Mail"), QStringLiteral("--ve"),
                   QStringLiteral("-d"), QStringLiteral("Bridge")})
                  .exitCode,
              0);
    HKEY mail = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Clients\\Mail", KEY_READ, &mail), ERROR_SUCCESS);
    char text[16];
    DWORD size = sizeof text;
    ASSERT_EQ(RegQueryValueEx(mail, nullptr, nullptr, reinterpret_cast<BYTE *>(text), &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "Bridge");
    RegCloseKey(mail);
}

TEST(RegCommand, queriesRecursivelyAndExportsAHive)
{
    ScratchRegistry registry;
    reg({QStringLiteral("add"), key("HKCR\\.t-q"), QStringLiteral("--ve"), QStringLiteral("-d"),
         QStringLiteral("Tavrelo Clipvane.File")});
    reg({QStringLiteral("add"), key("HKCR\\CLSID\\{C588106B}\\InprocServer32"), QStringLiteral("--ve"),
         QStringLiteral("-d"), QStringLiteral("/opt/it's/libTavreloHelpers.so")});

    const ProcessResult tree = reg({QStringLiteral("query"), key("HKCR"), QStringLiteral("-s")});
    EXPECT_EQ(tree.out, "HKEY_CLASSES_ROOT\n\n"
                        "HKEY_CLASSES_ROOT\\.t-q\n    (Default)    REG_SZ    Tavrelo Clipvane.File\n\n"
                        "HKEY_CLASSES_ROOT\\CLSID\n\n"
                        "HKEY_CLASSES_ROOT\\CLSID\\{C588106B}\n\n"
                        "HKEY_CLASSES_ROOT\\CLSID\\{C588106B}\\InprocServer32\n"
                        "    (Default)    REG_SZ    /opt/it's/libTavreloHelpers.so\n\n");

    const QString file = registry.path() + QStringLiteral("/export.reg");
    ASSERT_EQ(reg({QStringLiteral("export"), key("HKCR\\CLSID"), file}).exitCode, 0);
    const QByteArray text = ScratchRegistry::readFile(file);
    EXPECT_NE(text.indexOf("Tavrelo Registry Hive 1\n"), -1) << text.constData();
    EXPECT_NE(text.indexOf("[HKEY_CLASSES_ROOT\\CLSID\\{C588106B}\\InprocServer32]\n@=sz:\"/opt/it's/libTavreloHelpers.so\"\n"),
              -1)
        << text.constData();
    EXPECT_EQ(text.indexOf(".t-q"), -1);

    const ProcessResult again = reg({QStringLiteral("export"), key("HKCR\\CLSID"), file});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("-y"), std::string::npos);
    EXPECT_EQ(reg({QStringLiteral("export"), key("HKCR\\CLSID"), file, QStringLiteral("-y")}).exitCode, 0);
}

TEST(RegCommand, explainsMistakesAndFails)
{
    ScratchRegistry registry;
    struct Case {
        QStringList arguments;
        int exitCode;
        const char *says;
    };
    const Case cases[] = {
        {{}, 2, "no command"},
        {{QStringLiteral("frobnicate"), key("HKCU\\x")}, 2, "unknown command"},
        {{QStringLiteral("query"), key("HKEY_USERS\\x")}, 2, "does not start with"},
        {{QStringLiteral("query")}, 2, "one key"},
        {{QStringLiteral("add"), key("HKCU\\x"), QStringLiteral("-v")}, 2, "needs an argument"},
        {{QStringLiteral("add"), key("HKCU\\x"), QStringLiteral("-v"), QStringLiteral("n"), QStringLiteral("-t"),
          QStringLiteral("REG_DWORD"), QStringLiteral("-d"), QStringLiteral("4294967296")},
         2, "not a 32-bit number"},
        {{QStringLiteral("add"), key("HKCU\\x"), QStringLiteral("-v"), QStringLiteral("n"), QStringLiteral("-t"),
          QStringLiteral("REG_BINARY"), QStringLiteral("-d"), QStringLiteral("abc")},
         2, "hex bytes"},
        {{QStringLiteral("add"), key("HKCU\\x"), QStringLiteral("-v"), QStringLiteral("n"), QStringLiteral("-t"),
          QStringLiteral("REG_MULTI_SZ")},
         2, "unknown type"},
        {{QStringLiteral("add"), key("HKCU\\x"), QStringLiteral("-d"), QStringLiteral("data")}, 2, "-d needs"},
        {{QStringLiteral("delete"), key("HKCU")}, 2, "whole root"},
        {{QStringLiteral("delete"), key("HKCU\\absent")}, 1, "not found"},
        {{QStringLiteral("query"), key("HKCU\\x"), QStringLiteral("--bogus")}, 2, "unknown option"},
    };
    for (const Case &c : cases) {
        const ProcessResult result = reg(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments.join(u' ').toStdString();
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    }
    // Nothing was written by any of them.
    EXPECT_FALSE(QFile::exists(registry.userHive()));
}

TEST(RegCommand, refusesOptionsThatExcludeEachOtherAndChangesNothing)
{
    ScratchRegistry registry;
    const char *settingsKey = "HKCU\\Software\\Tavrelo\\Quillet\\Quillet";
    ASSERT_EQ(reg({"add", settingsKey, "-v", "LastFile", "-d", "/home/me/notes.t-q"}).exitCode, 0);
    ASSERT_EQ(reg({"add", settingsKey, "--ve", "-d", "default"}).exitCode, 0);
    ASSERT_EQ(reg({"add", "HKLM\\Software\\Tavrelo", "-v", "Machine", "-d", "wide"}).exitCode, 0);
    const QByteArray user = ScratchRegistry::readFile(registry.userHive());
    const QByteArray machine = ScratchRegistry::readFile(registry.machineHive());
    ASSERT_FALSE(user.isEmpty());
    ASSERT_FALSE(machine.isEmpty());

    const QString exported = registry.path() + QStringLiteral("/out.reg");
    const std::string exportedName = exported.toStdString();
    struct Case {
        std::initializer_list<const char *> arguments;
        const char *says;
    };
    const Case cases[] = {
        {{"delete", settingsKey, "--ve", "-v", "LastFile"}, "--ve and -v exclude each other"},
        {{"delete", settingsKey, "-v", "LastFile", "--ve"}, "-v and --ve exclude each other"},
        {{"delete", settingsKey, "--va", "-v", "LastFile"}, "--va and -v exclude each other"},
        {{"delete", settingsKey, "-v", "LastFile", "--va"}, "-v and --va exclude each other"},
        {{"delete", settingsKey, "--ve", "--va"}, "--ve and --va exclude each other"},
        {{"add", settingsKey, "-v", "LastFile", "--ve", "-d", "x"}, "-v and --ve exclude each other"},
        {{"add", settingsKey, "-v", "LastFile", "-v", "Other", "-d", "x"}, "-v is given more than once"},
        {{"delete", settingsKey, "-v", "LastFile", "-v", "Other"}, "-v is given more than once"},
        {{"delete", settingsKey, "--va", "--va"}, "--va is given more than once"},
        {{"add", settingsKey, "-v", "N", "-t", "REG_SZ", "-t", "REG_DWORD", "-d", "1"}, "-t is given more than once"},
        {{"add", settingsKey, "-v", "LastFile", "-d", "a", "-d", "b"}, "-d is given more than once"},
        {{"add", "HKLM\\Software\\Tavrelo", "-v", "Machine", "-d", "a", "-d", "b"}, "-d is given more than once"},
        {{"query", settingsKey, "-s", "-s"}, "-s is given more than once"},
        {{"export", settingsKey, exportedName.c_str(), "-y", "-y"}, "-y is given more than once"},
    };
    for (const Case &c : cases) {
        QStringList arguments;
        for (const char *argument : c.arguments)
            arguments << QString::fromUtf8(argument);
        const ProcessResult result = reg(arguments);
        const std::string line = arguments.join(u' ').toStdString();
        EXPECT_EQ(result.exitCode, 2) << line;
        EXPECT_NE(result.err.find(std::string("clipvane-reg: ") + c.says + ".\n"), std::string::npos)
            << line << ": " << result.err;
        EXPECT_TRUE(result.out.empty()) << line << ": " << result.out;
        EXPECT_EQ(ScratchRegistry::readFile(registry.userHive()), user) << line;
        EXPECT_EQ(ScratchRegistry::readFile(registry.machineHive()), machine) << line;
    }
    EXPECT_FALSE(QFile::exists(exported)) << "export wrote nothing";

    // A value name that looks like an option is still a value name.
    EXPECT_EQ(reg({"add", settingsKey, "-v", "--ve", "-d", "odd"}).exitCode, 0);
    EXPECT_EQ(reg({"query", settingsKey, "-v", "--ve"}).out, std::string(settingsKey).replace(0, 4, "HKEY_CURRENT_USER") +
                                                                   "\n    --ve    REG_SZ    odd\n");
}
