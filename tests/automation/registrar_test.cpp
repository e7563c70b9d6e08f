// Registrar scripts: what they write and remove, and scripts that do not parse writing nothing.

#include "automation/registrar.h"
#include "support/registryprobe.h"
#include "support/scratchregistry.h"

#include <gtest/gtest.h>

using namespace registryprobe;
using tavrelo::automation::RegistrarMode;
using tavrelo::automation::Replacements;
using tavrelo::automation::runRegistrarScript;

namespace {

QString str(const char *text) { return QString::fromUtf8(text); }

const QString kTests = QStringLiteral("Software\\Tavrelo Tests");

HRESULT run(const char *script, RegistrarMode mode, QString *error = nullptr, const Replacements &replacements = {})
{
    return runRegistrarScript(str(script), replacements, mode, error);
}

const char kScript[] = R"(
hkey_current_user
{
    noremove Software
    {
        'Tavrelo Tests' = s 'it''s the default'
        {
            VAL Text = S 'a ''quoted'' text'
            val Expand = e '%%HOME%%/x'
            val Decimal = d '16'
            val Hex = d '0x10FF'
            val Negative = d '-1'
            val Bytes = b '00ff10'
            val 'Spaced Name' = s ''
            {A1B2C3D4-0000-1111-2222-333344445555} = s 'named by an identifier'
            Nested { Deeper = s '%Name%' }
        }
    }
}
)";

QByteArray dword(std::uint32_t value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

}

TEST(Registrar, writesKeysAndTypedValues)
{
    ScratchRegistry registry;
    QString error;
    ASSERT_EQ(run(kScript, RegistrarMode::Register, &error, {{str("NAME"), str("replaced")}}), S_OK)
        << error.toStdString();

    EXPECT_EQ(stringValue(HKEY_CURRENT_USER, kTests), str("it's the default"));
    EXPECT_EQ(stringValue(HKEY_CURRENT_USER, kTests, str("Text")), str("a 'quoted' text"));
    EXPECT_EQ(rawValue(HKEY_CURRENT_USER, kTests, str("Expand")),
              std::make_pair(REG_EXPAND_SZ, QByteArray("%HOME%/x", 9)));
    EXPECT_EQ(rawValue(HKEY_CURRENT_USER, kTests, str("Decimal")), std::make_pair(REG_DWORD, dword(16)));
    EXPECT_EQ(rawValue(HKEY_CURRENT_USER, kTests, str("Hex")), std::make_pair(REG_DWORD, dword(0x10FF)));
    EXPECT_EQ(rawValue(HKEY_CURRENT_USER, kTests, str("Negative")), std::make_pair(REG_DWORD, dword(0xFFFFFFFF)));
    EXPECT_EQ(rawValue(HKEY_CURRENT_USER, kTests, str("Bytes")), std::make_pair(REG_BINARY, QByteArray("\x00\xff\x10", 3)));
    EXPECT_EQ(stringValue(HKEY_CURRENT_USER, kTests, str("Spaced Name")), QString());
    EXPECT_EQ(stringValue(HKEY_CURRENT_USER, kTests + str("\\{A1B2C3D4-0000-1111-2222-333344445555}")),
              str("named by an identifier"));
    EXPECT_EQ(stringValue(HKEY_CURRENT_USER, kTests + str("\\Nested\\Deeper")), str("replaced"));
}

TEST(Registrar, unregisteringRemovesOnlyWhatTheScriptNames)
{
    ScratchRegistry registry;
    const Replacements replacements{{str("name"), str("x")}};
    ASSERT_EQ(run(kScript, RegistrarMode::Register, nullptr, replacements), S_OK);
    ASSERT_TRUE(setString(HKEY_CURRENT_USER, kTests + str("\\Nested"), str("Foreign"), str("kept")));
    ASSERT_TRUE(setString(HKEY_CURRENT_USER, str("Software\\Other"), QString(), str("kept")));

    QString error;
    ASSERT_EQ(run(kScript, RegistrarMode::Unregister, &error, replacements), S_OK) << error.toStdString();
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kTests + str("\\Nested\\Deeper")));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kTests + str("\\{A1B2C3D4-0000-1111-2222-333344445555}")));
    EXPECT_EQ(valueNames(HKEY_CURRENT_USER, kTests + str("\\Nested")), QStringList{str("Foreign")});
    EXPECT_EQ(valueNames(HKEY_CURRENT_USER, kTests), QStringList()) << "its own values went";
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kTests)) << "it still holds a key that is not the script's";
    EXPECT_EQ(stringValue(HKEY_CURRENT_USER, str("Software\\Other")), str("kept"));

    // Once the foreign value is gone, nothing is left but the NoRemove key.
    ASSERT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "Software\\Other"), ERROR_SUCCESS);
    HKEY nested = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Tavrelo Tests\\Nested", KEY_ALL_ACCESS, &nested), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValue(nested, "Foreign"), ERROR_SUCCESS);
    RegCloseKey(nested);
    ASSERT_EQ(run(kScript, RegistrarMode::Unregister, nullptr, replacements), S_OK);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kTests));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, str("Software"))) << "NoRemove";
}

TEST(Registrar, forceRemoveAndDelete)
{
    ScratchRegistry registry;
    const char script[] = R"(HKCU { ForceRemove Fresh = s 'new' { val A = s '1' }
                                    Delete Gone })";
    ASSERT_TRUE(setString(HKEY_CURRENT_USER, str("Fresh\\Stale"), QString(), str("old")));
    ASSERT_TRUE(setString(HKEY_CURRENT_USER, str("Fresh"), str("B"), str("old")));
    ASSERT_TRUE(setString(HKEY_CURRENT_USER, str("Gone\\Below"), str("C"), str("old")));

    ASSERT_EQ(run(script, RegistrarMode::Register), S_OK);
    EXPECT_EQ(subKeys(HKEY_CURRENT_USER, str("Fresh")), QStringList());
    EXPECT_EQ(valueNames(HKEY_CURRENT_USER, str("Fresh")), (QStringList{QString(), str("A")}));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, str("Gone")));

    ASSERT_TRUE(setString(HKEY_CURRENT_USER, str("Fresh\\Added"), QString(), str("later")));
    ASSERT_EQ(run(script, RegistrarMode::Unregister), S_OK);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, str("Fresh"))) << "ForceRemove takes everything below";
}

TEST(Registrar, aScriptThatDoesNotParseWritesNothing)
{
    ScratchRegistry registry;
    const struct {
        const char *script;
        const char *reason;
    } cases[] = {
        {"HKCU { First = s '1' }\nHKXX { }", "line 2: unknown root HKXX"},
        {"HKCU { First = s '1' }\nHKCU First", "line 2: expected {"},
        {"HKCU { First = s '1'\n Second = s '2'\n", "line 3: expected a key name instead of the end"},
        {"HKCU { First = s '1'\n Second = x '2' }", "line 2: unknown value type x"},
        {"HKCU { First = s '1'\n Second = s 'open }", "line 2: a quote without its end"},
        {"HKCU { First = s '1'\n Second = s unquoted }", "line 2: expected the value in quotes"},
        {"HKCU { First = s '1'\n Second { val N = d 'abc' } }", "line 2: not a 32-bit number"},
        {"HKCU { First = s '1'\n Second { val N = d '4294967296' } }", "line 2: not a 32-bit number"},
        {"HKCU { First = s '1'\n Second { val N = b 'abc' } }", "line 2: not hex bytes"},
        {"HKCU { First = s '1'\n Second = s '%NOPE%' }", "line 2: unknown replacement %NOPE%"},
        {"HKCU { First = s '1'\n Second = s '100% sure' }", "line 2: a % without its closing %"},
        {"HKCU { First = s '1'\n val N = s 'x' }", "line 2: a value cannot sit directly under a root"},
        {"HKCU { First = s '1'\n 'a\\b' = s 'x' }", "line 2: expected a key name"},
        {"HKCU { First = s '1'\n {ABC = s 'x' }", "line 2: a name in braces without its closing brace"},
    };
    for (const auto &broken : cases) {
        QString error;
        EXPECT_EQ(run(broken.script, RegistrarMode::Register, &error), E_INVALIDARG) << broken.script;
        EXPECT_TRUE(error.startsWith(QLatin1StringView(broken.reason)))
            << "expected \"" << broken.reason << "\", got \"" << error.toStdString() << '"';
        EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, str("First"))) << broken.script;
    }
    EXPECT_EQ(ScratchRegistry::readFile(registry.userHive()), QByteArray()) << "the hive was never written";
}
