// Finding the program that runs HTML Applications, through the real registry layer in a private
// registry.

#include "shell/htahandler.h"

#include "launchertest.h"
#include "support/scratchregistry.h"

#include "registry/winreg.h"

#include <gtest/gtest.h>

using namespace tavrelo::shell;
using namespace tavrelo::registry;
using Outcome = HtaOpenCommand::Outcome;

namespace {

const char kClassKey[] = ".hta";
const char kCommandKey[] = "htafile\\shell\\open\\command";
const QByteArray kTemplate = R"("%ProgramFiles%/htahost" "%1" %*)";

// Writes the default value of HKCR\<key>: text gets its terminating NUL, a number is 4 bytes.
void setDefault(const char *key, DWORD type, const QByteArray &data)
{
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, key, KEY_ALL_ACCESS, &opened), ERROR_SUCCESS);
    const QByteArray bytes = type == REG_DWORD ? QByteArray("\1\0\0\0", 4) : data + '\0';
    EXPECT_EQ(RegSetValueEx(opened, nullptr, type, reinterpret_cast<const BYTE *>(bytes.constData()), DWORD(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(opened);
}

class HtaHandlerLookup : public ::testing::Test {
protected:
    ScratchRegistry m_registry;
};

}

TEST_F(HtaHandlerLookup, stringAndExpandableValuesAreUsedAsStored)
{
    for (const DWORD classType : {REG_SZ, REG_EXPAND_SZ}) {
        for (const DWORD commandType : {REG_SZ, REG_EXPAND_SZ}) {
            setDefault(kClassKey, classType, "htafile");
            setDefault(kCommandKey, commandType, kTemplate);
            const HtaOpenCommand found = findHtaOpenCommand();
            EXPECT_EQ(found.outcome, Outcome::Found);
            EXPECT_EQ(found.commandTemplate, QString::fromUtf8(kTemplate)) << "%ProgramFiles% is not expanded";
        }
    }
    // The class named is the one read, and a long command is read whole.
    setDefault(kClassKey, REG_SZ, "Other.Class");
    setDefault("Other.Class\\shell\\open\\command", REG_SZ, QByteArray(3000, 'x'));
    EXPECT_EQ(findHtaOpenCommand().commandTemplate, QString(3000, u'x'));
}

TEST_F(HtaHandlerLookup, eachUnusableValueFailsItsOwnWay)
{
    // A missing, empty or non-text .hta is told about (NoFileClass); the same faults in the open
    // command end the launcher silently (NoOpenCommand).
    for (const char *key : {kClassKey, kCommandKey}) {
        const Outcome failure = key == kClassKey ? Outcome::NoFileClass : Outcome::NoOpenCommand;
        setDefault(kClassKey, REG_SZ, "htafile");
        setDefault(kCommandKey, REG_SZ, kTemplate);
        ASSERT_EQ(findHtaOpenCommand().outcome, Outcome::Found);
        const auto expectFailure = [&](const char *fault) {
            EXPECT_EQ(findHtaOpenCommand().outcome, failure) << key << ": " << fault;
        };
        setDefault(key, REG_SZ, "");
        expectFailure("empty");
        setDefault(key, REG_DWORD, {});
        expectFailure("a number");
        setDefault(key, REG_BINARY, "htafile");
        expectFailure("bytes");
        HKEY opened = nullptr;
        ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, key, KEY_ALL_ACCESS, &opened), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteValue(opened, nullptr), ERROR_SUCCESS);
        RegCloseKey(opened);
        expectFailure("no value");
        ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, key), ERROR_SUCCESS);
        expectFailure("no key");
    }
}
