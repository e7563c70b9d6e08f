// The registry functions against real hive files in a scratch folder.

#include "registry/hivefile.h"
#include "registry/winreg.h"
#include "support/scratchregistry.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace tavrelo::registry;

namespace {

class Registry : public ::testing::Test {
protected:
    // Opens or creates a key and closes it at the end of the test.
    HKEY create(HKEY root, const char *path, REGSAM access = KEY_ALL_ACCESS)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyEx(root, path, access, &key), ERROR_SUCCESS) << path;
        m_open.push_back(key);
        return key;
    }
    HKEY open(HKEY root, const char *path, REGSAM access = KEY_READ)
    {
        HKEY key = nullptr;
        const LONG error = RegOpenKeyEx(root, path, access, &key);
        if (error != ERROR_SUCCESS)
            return nullptr;
        m_open.push_back(key);
        return key;
    }
    static void setString(HKEY key, const char *name, const std::string &text, DWORD type = REG_SZ)
    {
        ASSERT_EQ(RegSetValueEx(key, name, type, reinterpret_cast<const BYTE *>(text.c_str()),
                                static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }
    // The string value, or "<missing>".
    static std::string getString(HKEY key, const char *name)
    {
        char buffer[4096];
        DWORD type = 0;
        DWORD size = sizeof buffer;
        if (RegQueryValueEx(key, name, &type, reinterpret_cast<BYTE *>(buffer), &size) != ERROR_SUCCESS)
            return "<missing>";
        EXPECT_TRUE(type == REG_SZ || type == REG_EXPAND_SZ);
        return std::string(buffer, size - 1);
    }
    std::string valueIn(HKEY root, const char *path, const char *name)
    {
        HKEY key = open(root, path);
        return key ? getString(key, name) : "<no key>";
    }
    void TearDown() override
    {
        for (HKEY key : m_open)
            EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }

    ScratchRegistry m_registry;
    std::vector<HKEY> m_open;
};

} // namespace

TEST_F(Registry, keysAndValuesMatchWithoutRegardToCase)
{
    DWORD disposition = 0;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\MixedCase", KEY_ALL_ACCESS, &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    m_open.push_back(key);
    setString(key, "LastFile", "one");
    setString(key, "LASTFILE", "two");

    EXPECT_EQ(valueIn(HKEY_CURRENT_USER, "SOFTWARE\\mixedcase", "lastfile"), "two");
    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "software\\MIXEDCASE", KEY_READ, &again, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    m_open.push_back(again);

    // Stored as first written.
    HKEY software = open(HKEY_CURRENT_USER, "Software");
    char name[64];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumKeyEx(software, 0, name, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, size), "MixedCase");
    size = sizeof name;
    DWORD type = 0, dataSize = 0;
    ASSERT_EQ(RegEnumValue(key, 0, name, &size, &type, nullptr, &dataSize), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name), "LastFile");
    EXPECT_EQ(dataSize, 4u);
}

TEST_F(Registry, defaultValueIsTheNullOrEmptyName)
{
    HKEY key = create(HKEY_CURRENT_USER, "Software\\D");
    setString(key, nullptr, "unnamed");
    EXPECT_EQ(getString(key, ""), "unnamed");
    EXPECT_EQ(RegDeleteValue(key, ""), ERROR_SUCCESS);
    EXPECT_EQ(getString(key, nullptr), "<missing>");
    EXPECT_EQ(RegDeleteValue(key, nullptr), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, queryHonoursTheCallersBuffer)
{
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Q");
    setString(key, "Text", "12345");

    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueEx(key, "Text", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6u); // with the terminator

    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    size = 5;
    EXPECT_EQ(RegQueryValueEx(key, "Text", &type, reinterpret_cast<BYTE *>(buffer), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(buffer[0], 'x');
    size = 6;
    ASSERT_EQ(RegQueryValueEx(key, "Text", &type, reinterpret_cast<BYTE *>(buffer), &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "12345");

    // A string set without a terminator, or with text after an inner NUL, ends at its end or NUL.
    ASSERT_EQ(RegSetValueEx(key, "Raw", REG_SZ, reinterpret_cast<const BYTE *>("abc\0def"), 7), ERROR_SUCCESS);
    EXPECT_EQ(getString(key, "Raw"), "abc");
    ASSERT_EQ(RegSetValueEx(key, "Unterminated", REG_SZ, reinterpret_cast<const BYTE *>("abcdef"), 3), ERROR_SUCCESS);
    EXPECT_EQ(getString(key, "Unterminated"), "abc");

    EXPECT_EQ(RegQueryValueEx(key, "Absent", &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, numbersAndBytesKeepTheirType)
{
    HKEY key = create(HKEY_CURRENT_USER, "Software\\N");
    const BYTE number[4] = {0xff, 0xff, 0xff, 0xff};
    ASSERT_EQ(RegSetValueEx(key, "Minus", REG_DWORD, number, 4), ERROR_SUCCESS);
    const BYTE bytes[3] = {0, 1, 2};
    ASSERT_EQ(RegSetValueEx(key, "Bytes", REG_BINARY, bytes, 3), ERROR_SUCCESS);

    BYTE out[8] = {};
    DWORD type = 0, size = sizeof out;
    ASSERT_EQ(RegQueryValueEx(key, "Minus", &type, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::memcmp(out, number, 4), 0);
    size = sizeof out;
    ASSERT_EQ(RegQueryValueEx(key, "Bytes", &type, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(out, bytes, 3), 0);
}

TEST_F(Registry, subkeysAreCountedAndEnumeratedInOrder)
{
    HKEY parent = create(HKEY_CURRENT_USER, "Software\\Clients\\Mail");
    for (const char *name : {"zeta", "Alpha", "Much Longer Name", "beta"})
        create(parent, name);
    setString(parent, "", "Alpha");

    DWORD count = 0, longest = 0, values = 0;
    ASSERT_EQ(RegQueryInfoKey(parent, &count, &longest, &values), ERROR_SUCCESS);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(longest, std::strlen("Much Longer Name"));
    EXPECT_EQ(values, 1u);

    std::vector<std::string> names;
    char name[32];
    for (DWORD i = 0;; ++i) {
        DWORD size = longest + 1;
        const LONG error = RegEnumKeyEx(parent, i, name, &size);
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(error, ERROR_SUCCESS);
        names.emplace_back(name, size);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "Much Longer Name", "zeta"}));

    DWORD small = 4; // "Alpha" needs 6 with its terminator
    EXPECT_EQ(RegEnumKeyEx(parent, 0, name, &small), ERROR_MORE_DATA);
}

TEST_F(Registry, deletingKeys)
{
    HKEY software = create(HKEY_CURRENT_USER, "Software");
    HKEY leaf = create(HKEY_CURRENT_USER, "Software\\Tree\\Branch\\Leaf");
    setString(leaf, "v", "x");

    EXPECT_EQ(RegDeleteKey(software, "Tree"), ERROR_ACCESS_DENIED); // it has subkeys
    EXPECT_EQ(RegDeleteKey(software, "Tree\\Branch\\Leaf"), ERROR_SUCCESS);
    EXPECT_EQ(open(HKEY_CURRENT_USER, "Software\\Tree\\Branch\\Leaf"), nullptr);
    // The handle of a deleted key can no longer write.
    EXPECT_EQ(RegSetValueEx(leaf, "v", REG_SZ, reinterpret_cast<const BYTE *>("y"), 2), ERROR_FILE_NOT_FOUND);

    create(HKEY_CURRENT_USER, "Software\\Tree\\Other\\Deep");
    EXPECT_EQ(RegDeleteTree(software, "TREE"), ERROR_SUCCESS);
    EXPECT_EQ(open(HKEY_CURRENT_USER, "Software\\Tree"), nullptr);
    EXPECT_EQ(RegDeleteTree(software, "Tree"), ERROR_FILE_NOT_FOUND);

    // Without a subkey, RegDeleteTree empties the key and keeps it.
    HKEY kept = create(HKEY_CURRENT_USER, "Software\\Kept");
    setString(kept, "v", "x");
    create(kept, "Child");
    EXPECT_EQ(RegDeleteTree(kept, nullptr), ERROR_SUCCESS);
    DWORD subkeys = 9, values = 9;
    ASSERT_EQ(RegQueryInfoKey(kept, &subkeys, nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values, 0u);
    EXPECT_EQ(RegDeleteTree(kept, nullptr), ERROR_SUCCESS);
}

TEST_F(Registry, handlesAllowOnlyWhatTheyWereOpenedFor)
{
    create(HKEY_CURRENT_USER, "Software\\R");
    HKEY reader = open(HKEY_CURRENT_USER, "Software\\R", KEY_QUERY_VALUE);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(RegSetValueEx(reader, "v", REG_SZ, reinterpret_cast<const BYTE *>("x"), 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValue(reader, "v"), ERROR_ACCESS_DENIED);
    HKEY writer = open(HKEY_CURRENT_USER, "Software\\R", KEY_SET_VALUE);
    ASSERT_NE(writer, nullptr);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(writer, "v", nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    char name[8];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(RegEnumKeyEx(writer, 0, name, &nameSize), ERROR_ACCESS_DENIED);

    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(reinterpret_cast<HKEY>(&size), "x", KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Missing", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Bad\nName", KEY_READ, &key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST_F(Registry, userAndMachineAreSeparateHives)
{
    setString(create(HKEY_LOCAL_MACHINE, "Software\\Tavrelo"), "Where", "machine");
    setString(create(HKEY_CURRENT_USER, "Software\\Tavrelo"), "Where", "user");
    EXPECT_EQ(valueIn(HKEY_LOCAL_MACHINE, "Software\\Tavrelo", "Where"), "machine");
    EXPECT_EQ(valueIn(HKEY_CURRENT_USER, "Software\\Tavrelo", "Where"), "user");
    EXPECT_NE(ScratchRegistry::readFile(m_registry.machineHive()).indexOf("\"machine\""), -1);
    EXPECT_NE(ScratchRegistry::readFile(m_registry.userHive()).indexOf("\"user\""), -1);
    EXPECT_EQ(QFileInfo(m_registry.userHive()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
}

TEST_F(Registry, classesRootReadsTheUserFirstThenTheMachine)
{
    HKEY machine = create(HKEY_LOCAL_MACHINE, "Software\\Classes\\.t-q");
    setString(machine, "", "Tavrelo Clipvane.File");
    setString(machine, "Content Type", "application/x-machine");
    setString(create(HKEY_CURRENT_USER, "Software\\Classes\\.t-q"), "Content Type", "application/x-user");
    create(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\{B}");
    create(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{a}");
    create(HKEY_CURRENT_USER, "Software\\Classes\\clsid\\{b}");

    EXPECT_EQ(valueIn(HKEY_CLASSES_ROOT, ".T-Q", ""), "Tavrelo Clipvane.File");
    EXPECT_EQ(valueIn(HKEY_CLASSES_ROOT, ".t-q", "Content Type"), "application/x-user");

    HKEY clsid = open(HKEY_CLASSES_ROOT, "CLSID");
    ASSERT_NE(clsid, nullptr);
    DWORD count = 0;
    ASSERT_EQ(RegQueryInfoKey(clsid, &count, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(count, 2u); // {b} is in both hives and counted once
    char name[16];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumKeyEx(clsid, 1, name, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name), "{b}"); // the user's spelling
}

TEST_F(Registry, classesRootWritesWhereTheKeyIs)
{
    // A new key goes to the machine.
    setString(create(HKEY_CLASSES_ROOT, "TavreloHelpers.Quillet\\CLSID"), "", "{C588106B}");
    EXPECT_EQ(valueIn(HKEY_LOCAL_MACHINE, "Software\\Classes\\TavreloHelpers.Quillet\\CLSID", ""), "{C588106B}");
    EXPECT_EQ(open(HKEY_CURRENT_USER, "Software\\Classes\\TavreloHelpers.Quillet"), nullptr);

    // A key the user has goes to the user, so that the merged view shows what was written.
    create(HKEY_CURRENT_USER, "Software\\Classes\\Mine");
    create(HKEY_LOCAL_MACHINE, "Software\\Classes\\Mine");
    setString(open(HKEY_CLASSES_ROOT, "Mine", KEY_WRITE), "v", "user");
    EXPECT_EQ(valueIn(HKEY_CURRENT_USER, "Software\\Classes\\Mine", "v"), "user");
    EXPECT_EQ(valueIn(HKEY_LOCAL_MACHINE, "Software\\Classes\\Mine", "v"), "<missing>");
    EXPECT_EQ(valueIn(HKEY_CLASSES_ROOT, "Mine", "v"), "user");

    // Deleting through the merged view removes what either hive holds.
    setString(open(HKEY_LOCAL_MACHINE, "Software\\Classes\\Mine", KEY_WRITE), "v", "machine");
    EXPECT_EQ(RegDeleteValue(open(HKEY_CLASSES_ROOT, "Mine", KEY_WRITE), "V"), ERROR_SUCCESS);
    EXPECT_EQ(valueIn(HKEY_CLASSES_ROOT, "Mine", "v"), "<missing>");
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "mine"), ERROR_SUCCESS);
    EXPECT_EQ(open(HKEY_CURRENT_USER, "Software\\Classes\\Mine"), nullptr);
    EXPECT_EQ(open(HKEY_LOCAL_MACHINE, "Software\\Classes\\Mine"), nullptr);
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Mine"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, readsSeeWhatOthersWrote)
{
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Shared");
    setString(key, "v", "mine");
    // Another writer replaces the file; an open handle reads the new content.
    ScratchRegistry::writeFile(m_registry.userHive(),
                               "Tavrelo Registry Hive 1\n[Software\\Shared]\n\"v\"=sz:\"theirs\"\n");
    EXPECT_EQ(getString(key, "v"), "theirs");
}

TEST_F(Registry, corruptHiveIsMovedAsideAndReadsEmpty)
{
    const QByteArray damaged = "Tavrelo Registry Hive 1\n[Software\\X]\n\"v\"=sz:\"no end\n";
    ScratchRegistry::writeFile(m_registry.userHive(), damaged);

    testing::internal::CaptureStderr();
    EXPECT_EQ(open(HKEY_CURRENT_USER, "Software\\X"), nullptr);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("user.reg cannot be read (line 3"), std::string::npos) << message;
    EXPECT_NE(message.find("moved aside to"), std::string::npos) << message;

    const QStringList aside = QDir(m_registry.path()).entryList({QStringLiteral("user.reg.corrupt-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(ScratchRegistry::readFile(QDir(m_registry.path()).filePath(aside[0])), damaged);

    // Writing starts a fresh hive and leaves the damaged copy alone.
    setString(create(HKEY_CURRENT_USER, "Software\\X"), "v", "new");
    EXPECT_EQ(valueIn(HKEY_CURRENT_USER, "Software\\X", "v"), "new");
    EXPECT_EQ(ScratchRegistry::readFile(QDir(m_registry.path()).filePath(aside[0])), damaged);

    // A second damaged hive gets a name of its own.
    ScratchRegistry::writeFile(m_registry.userHive(), damaged);
    testing::internal::CaptureStderr();
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Y");
    testing::internal::GetCapturedStderr();
    EXPECT_NE(key, nullptr);
    EXPECT_EQ(QDir(m_registry.path()).entryList({QStringLiteral("user.reg.corrupt-*")}).size(), 2);
}

TEST(MachineHive, isInTheFirstConfigFolderThatHoldsOneElseInTheFirst)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(qgetenv("TAVRELO_REGISTRY_DIR").isEmpty());
    const QByteArray saved = qgetenv("XDG_CONFIG_DIRS");
    const std::string session = dir.filePath(QStringLiteral("session")).toStdString();
    const std::string system = dir.filePath(QStringLiteral("system")).toStdString();
    qputenv("XDG_CONFIG_DIRS", QByteArray::fromStdString(session + ":relative:" + system));
    EXPECT_EQ(hivePath(HiveId::Machine), session + "/tavrelo/machine.reg");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(system + "/tavrelo")));
    ScratchRegistry::writeFile(QString::fromStdString(system + "/tavrelo/machine.reg"), "Tavrelo Registry Hive 1\n");
    EXPECT_EQ(hivePath(HiveId::Machine), system + "/tavrelo/machine.reg");
    qunsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(hivePath(HiveId::Machine), "/etc/xdg/tavrelo/machine.reg");
    if (!saved.isNull())
        qputenv("XDG_CONFIG_DIRS", saved);
}

TEST(ExpandEnvironmentStrings, replacesKnownVariablesOnly)
{
    qputenv("CLIPVANE_TEST_VAR", "/home/ann");
    qunsetenv("CLIPVANE_UNSET_VAR");
    char buffer[128];
    const char *source = "%CLIPVANE_TEST_VAR%/x %CLIPVANE_UNSET_VAR% 100% %% %clipvane_test_var%";
    const DWORD needed = ExpandEnvironmentStrings(source, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "/home/ann/x %CLIPVANE_UNSET_VAR% 100% %% %clipvane_test_var%");
    EXPECT_EQ(needed, std::strlen(buffer) + 1);

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(ExpandEnvironmentStrings("%CLIPVANE_TEST_VAR%", buffer, 5), 10u);
    EXPECT_EQ(buffer[0], 'x'); // too small: nothing written
    EXPECT_EQ(ExpandEnvironmentStrings(nullptr, buffer, 5), 0u);
}
