// The settings members of the helper object, as the pages use them.

#include "object/quillet.h"
#include "registry/winreg.h"
#include "support/scratchregistry.h"

#include <gtest/gtest.h>

using namespace tavrelo::registry;
using namespace tavrelo::helpers;

namespace {

const QString kModule = QStringLiteral("Quillet");
constexpr int kMachine = 0;
constexpr int kUserOnly = 1;
constexpr int kUserThenMachine = 2;

class RegistrySettings : public ::testing::Test {
protected:
    QString getString(const QString &name, int scope)
    {
        QString value;
        EXPECT_EQ(m_helper->get_RegistryString(kModule, name, scope, &value), S_OK);
        return value;
    }
    std::int32_t getNumber(const QString &name, int scope)
    {
        std::int32_t value = 0;
        EXPECT_EQ(m_helper->get_RegistryDWORD(kModule, name, scope, &value), S_OK);
        return value;
    }
    void putString(const QString &name, int scope, const QString &value)
    {
        EXPECT_EQ(m_helper->put_RegistryString(kModule, name, scope, value), S_OK);
    }
    // A value placed by an administrator with the registry command.
    void machineDefault(const char *name, const QString &data, const char *type = "REG_SZ")
    {
        const ProcessResult result =
            runProgram(QStringLiteral(CLIPVANE_REG_COMMAND),
                       {QStringLiteral("add"), QStringLiteral("HKLM\\SOFTWARE\\Tavrelo\\Quillet\\Quillet"),
                        QStringLiteral("-v"), QString::fromUtf8(name), QStringLiteral("-t"), QString::fromUtf8(type),
                        QStringLiteral("-d"), data});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
    static QString userValueInFile(const ScratchRegistry &registry)
    {
        return QString::fromUtf8(ScratchRegistry::readFile(registry.userHive()));
    }

    ScratchRegistry m_registry;
    const ComPtr<Quillet> m_helper = Quillet::create();
};

} // namespace

TEST_F(RegistrySettings, scopeTwoFallsBackToTheMachineAndWritesTheUser)
{
    machineDefault("LastFile", QStringLiteral("/srv/shared/Team.t-q"));
    EXPECT_EQ(getString(QStringLiteral("LastFile"), kUserThenMachine), QStringLiteral("/srv/shared/Team.t-q"));
    EXPECT_EQ(getString(QStringLiteral("LastFile"), kUserOnly), QString()); // scope 1 never looks at the machine
    EXPECT_EQ(getString(QStringLiteral("LastFile"), kMachine), QStringLiteral("/srv/shared/Team.t-q"));

    // Put with scope 2 creates the product and module keys under the user and overrides the default.
    EXPECT_FALSE(QFile::exists(m_registry.userHive()));
    putString(QStringLiteral("LastFile"), kUserThenMachine, QStringLiteral("/home/ann/Mine.t-q"));
    EXPECT_TRUE(userValueInFile(m_registry).contains(QStringLiteral("[SOFTWARE\\Tavrelo\\Quillet\\Quillet]")));
    EXPECT_EQ(getString(QStringLiteral("LastFile"), kUserThenMachine), QStringLiteral("/home/ann/Mine.t-q"));
    EXPECT_EQ(getString(QStringLiteral("LastFile"), kMachine), QStringLiteral("/srv/shared/Team.t-q"));

    // Scopes below 0 are the machine, above 2 the user then the machine.
    EXPECT_EQ(getString(QStringLiteral("LastFile"), -5), QStringLiteral("/srv/shared/Team.t-q"));
    EXPECT_EQ(getString(QStringLiteral("LastFile"), 7), QStringLiteral("/home/ann/Mine.t-q"));
    EXPECT_EQ(m_helper->put_RegistryString(kModule, QStringLiteral("Admin"), -1, QStringLiteral("m")), S_OK);
    EXPECT_EQ(getString(QStringLiteral("Admin"), kMachine), QStringLiteral("m"));
    EXPECT_EQ(getString(QStringLiteral("Admin"), kUserOnly), QString());
}

TEST_F(RegistrySettings, puttingAnEmptyStringDeletesTheValue)
{
    machineDefault("PreviousFile0", QStringLiteral("/srv/default.t-q"));
    putString(QStringLiteral("PreviousFile0"), kUserThenMachine, QStringLiteral("/home/ann/a.t-q"));
    putString(QStringLiteral("PreviousFile0"), kUserThenMachine, QString());
    EXPECT_FALSE(userValueInFile(m_registry).contains(QStringLiteral("PreviousFile0")));
    EXPECT_EQ(getString(QStringLiteral("PreviousFile0"), kUserOnly), QString());
    // With the user's value gone, scope 2 sees the machine's default again.
    EXPECT_EQ(getString(QStringLiteral("PreviousFile0"), kUserThenMachine), QStringLiteral("/srv/default.t-q"));
    // Deleting what is not there is no error; the null string deletes too.
    EXPECT_EQ(m_helper->put_RegistryString(kModule, QStringLiteral("Never"), kUserOnly, QStringLiteral("")), S_OK);
}

TEST_F(RegistrySettings, multiByteTextRoundTripsWhole)
{
    const QString path = QStringLiteral("/home/zoë/日本語のメモ/Ünïcødé 🦊.t-q");
    putString(QStringLiteral("LastFile"), kUserThenMachine, path);
    EXPECT_EQ(getString(QStringLiteral("LastFile"), kUserThenMachine), path);
    EXPECT_TRUE(userValueInFile(m_registry).contains(path)); // stored as readable UTF-8
}

TEST_F(RegistrySettings, stringsLongerThanTheLimitCountAsMissing)
{
    // 2084 bytes including the terminator: 2083 bytes of text fit, 2084 do not.
    const QString fits = QString(2081, QLatin1Char('a')) + QStringLiteral("é"); // 2083 bytes in UTF-8
    putString(QStringLiteral("Fits"), kUserOnly, fits);
    EXPECT_EQ(getString(QStringLiteral("Fits"), kUserOnly), fits);
    putString(QStringLiteral("TooLong"), kUserOnly, QString(2084, QLatin1Char('b')));
    putString(QStringLiteral("TooLong2085"), kUserOnly, QString(2085, QLatin1Char('c')));

    QString untouched = QStringLiteral("untouched");
    EXPECT_EQ(m_helper->get_RegistryString(kModule, QStringLiteral("TooLong"), kUserOnly, &untouched), S_OK);
    EXPECT_EQ(untouched, QStringLiteral("untouched"));
    EXPECT_EQ(m_helper->get_RegistryString(kModule, QStringLiteral("TooLong2085"), kUserOnly, &untouched), S_OK);
    EXPECT_EQ(untouched, QStringLiteral("untouched"));

    // A too-long user value lets scope 2 fall through to the machine.
    machineDefault("TooLong", QStringLiteral("short machine value"));
    EXPECT_EQ(getString(QStringLiteral("TooLong"), kUserThenMachine), QStringLiteral("short machine value"));
}

TEST_F(RegistrySettings, numbers)
{
    EXPECT_EQ(m_helper->put_RegistryDWORD(kModule, QStringLiteral("SortBy"), kUserThenMachine, -1), S_OK);
    EXPECT_EQ(getNumber(QStringLiteral("SortBy"), kUserThenMachine), -1);
    EXPECT_EQ(m_helper->put_RegistryDWORD(kModule, QStringLiteral("LeftPanePercent"), kUserThenMachine, 25), S_OK);
    EXPECT_EQ(getNumber(QStringLiteral("LeftPanePercent"), kUserThenMachine), 25);
    EXPECT_TRUE(userValueInFile(m_registry).contains(QStringLiteral("\"SortBy\"=dword:ffffffff")));

    // Absent: the result is not written, so script sees the 0 it started with.
    std::int32_t value = 0;
    EXPECT_EQ(m_helper->get_RegistryDWORD(kModule, QStringLiteral("Absent"), kUserThenMachine, &value), S_OK);
    EXPECT_EQ(value, 0);
    value = 1234;
    EXPECT_EQ(m_helper->get_RegistryDWORD(kModule, QStringLiteral("Absent"), kUserThenMachine, &value), S_OK);
    EXPECT_EQ(value, 1234);

    machineDefault("VisibilityShowURL", QStringLiteral("1"), "REG_DWORD");
    EXPECT_EQ(getNumber(QStringLiteral("VisibilityShowURL"), kUserThenMachine), 1);
    EXPECT_EQ(getNumber(QStringLiteral("VisibilityShowURL"), kUserOnly), 0);
}

TEST_F(RegistrySettings, aValueOfAnotherTypeReadsAsMissing)
{
    putString(QStringLiteral("Mixed"), kUserOnly, QStringLiteral("text"));
    EXPECT_EQ(getNumber(QStringLiteral("Mixed"), kUserOnly), 0);
    EXPECT_EQ(m_helper->put_RegistryDWORD(kModule, QStringLiteral("Number"), kUserOnly, 7), S_OK);
    EXPECT_EQ(getString(QStringLiteral("Number"), kUserOnly), QString());
}

TEST_F(RegistrySettings, missingArgumentsAreRefused)
{
    QString text;
    std::int32_t number = 0;
    EXPECT_EQ(m_helper->get_RegistryString(QString(), QStringLiteral("n"), 2, &text), E_INVALIDARG);
    EXPECT_EQ(m_helper->get_RegistryString(kModule, QString(), 2, &text), E_INVALIDARG);
    EXPECT_EQ(m_helper->get_RegistryString(kModule, QStringLiteral("n"), 2, nullptr), E_INVALIDARG);
    EXPECT_EQ(m_helper->get_RegistryDWORD(QString(), QStringLiteral("n"), 2, &number), E_INVALIDARG);
    EXPECT_EQ(m_helper->get_RegistryDWORD(kModule, QStringLiteral("n"), 2, nullptr), E_INVALIDARG);
    EXPECT_EQ(m_helper->put_RegistryString(kModule, QString(), 2, QStringLiteral("v")), E_INVALIDARG);
    EXPECT_EQ(m_helper->put_RegistryDWORD(QString(), QStringLiteral("n"), 2, 1), E_INVALIDARG);
    EXPECT_EQ(m_helper->get_KeyRegistryString(QString(), QStringLiteral("x"), QStringLiteral("y"), nullptr), E_POINTER);
    EXPECT_FALSE(QFile::exists(m_registry.userHive()));
}

TEST_F(RegistrySettings, keyWhichCannotBeCreatedWritesNothingAndSucceeds)
{
    // The hive's lock file is taken by a folder: the user's hive cannot be written at all.
    QDir(m_registry.path()).mkdir(QStringLiteral("user.reg.lock"));
    EXPECT_EQ(m_helper->put_RegistryString(kModule, QStringLiteral("LastFile"), kUserOnly, QStringLiteral("x")), S_OK);
    EXPECT_EQ(m_helper->put_RegistryDWORD(kModule, QStringLiteral("SortBy"), kUserOnly, 3), S_OK);
    EXPECT_EQ(getString(QStringLiteral("LastFile"), kUserOnly), QString());
    EXPECT_FALSE(QFile::exists(m_registry.userHive()));
}

TEST_F(RegistrySettings, keyRegistryStringReadsTheMachineWhateverItsFirstArgumentSays)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer", KEY_WRITE, &key), ERROR_SUCCESS);
    RegSetValueEx(key, "Version", REG_SZ, reinterpret_cast<const BYTE *>("11.0"), 5);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer", KEY_WRITE, &key), ERROR_SUCCESS);
    RegSetValueEx(key, "Version", REG_SZ, reinterpret_cast<const BYTE *>("user"), 5);
    RegCloseKey(key);

    QString value;
    EXPECT_EQ(m_helper->get_KeyRegistryString(QStringLiteral("HKEY_CURRENT_USER"),
                                             QStringLiteral("Software\\Microsoft\\Internet Explorer"),
                                             QStringLiteral("Version"), &value),
              S_OK);
    EXPECT_EQ(value, QStringLiteral("11.0"));

    // Missing key: no result, success. Missing value: E_INVALIDARG.
    QString untouched = QStringLiteral("untouched");
    EXPECT_EQ(m_helper->get_KeyRegistryString(QStringLiteral("HKEY_LOCAL_MACHINE"), QStringLiteral("Software\\Absent"),
                                             QStringLiteral("Version"), &untouched),
              S_OK);
    EXPECT_EQ(untouched, QStringLiteral("untouched"));
    EXPECT_EQ(m_helper->get_KeyRegistryString(QStringLiteral("HKEY_LOCAL_MACHINE"),
                                             QStringLiteral("Software\\Microsoft\\Internet Explorer"),
                                             QStringLiteral("Build"), &untouched),
              E_INVALIDARG);
}
