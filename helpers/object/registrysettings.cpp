// The settings members: string and number values under the product's key, chosen between the
// user's and the machine's hive by a scope value, and a read of any string under
// HKEY_LOCAL_MACHINE.

#include "quillet.h"
#include "settingskey.h"

#include <QByteArray>

#include <array>

namespace tavrelo::helpers {

using namespace tavrelo::registry;

namespace {

constexpr const char *kProductKey = "SOFTWARE\\Tavrelo\\Quillet";

// A string read is limited to this many bytes including the terminator; a longer value counts
// as not found.
constexpr DWORD kStringLimit = 2084;

HKEY rootFor(int scope) { return scope < 1 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

bool isString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// Reads a string value of at most kStringLimit bytes. Values of another type count as missing:
// their bytes are no text.
bool queryString(HKEY key, const QByteArray &name, QString *value)
{
    std::array<char, kStringLimit> buffer{};
    DWORD type = REG_SZ;
    DWORD size = kStringLimit;
    if (RegQueryValueEx(key, name.constData(), &type, reinterpret_cast<BYTE *>(buffer.data()), &size) != ERROR_SUCCESS ||
        !isString(type))
        return false;
    *value = QString::fromUtf8(buffer.data()); // up to the terminator
    return true;
}

// Reads a REG_DWORD; values of another type count as missing.
bool queryNumber(HKEY key, const QByteArray &name, std::int32_t *value)
{
    std::array<BYTE, 4> bytes{};
    DWORD type = REG_DWORD;
    DWORD size = 4;
    if (RegQueryValueEx(key, name.constData(), &type, bytes.data(), &size) != ERROR_SUCCESS || type != REG_DWORD ||
        size != 4)
        return false;
    *value = static_cast<std::int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24);
    return true;
}

// Reads with scope 2 or more from the user first and then from the machine; otherwise from the
// scope's own root. `read` returns whether it found the value.
template <typename Read>
void readSetting(int scope, const QString &module, Read read)
{
    if (scope >= settings::kScopeUserThenMachine) {
        const tavrelo::registry::RegKey userKey(settings::openModuleKeyForReading(settings::kScopeUserOnly, module));
        if (userKey && read(userKey.handle()))
            return;
        scope = settings::kScopeMachine;
    }
    const tavrelo::registry::RegKey key(settings::openModuleKeyForReading(scope, module));
    if (key)
        read(key.handle());
}

} // namespace

namespace settings {

HKEY openModuleKeyForReading(int scope, const QString &module)
{
    HKEY product = nullptr;
    if (RegOpenKeyEx(rootFor(scope), kProductKey, KEY_QUERY_VALUE, &product) != ERROR_SUCCESS)
        return nullptr;
    const tavrelo::registry::RegKey productGuard(product);
    HKEY moduleKey = nullptr;
    if (RegOpenKeyEx(product, module.toUtf8().constData(), KEY_QUERY_VALUE, &moduleKey) != ERROR_SUCCESS)
        return nullptr;
    return moduleKey;
}

HKEY openModuleKeyForWriting(int scope, const QString &module)
{
    HKEY product = nullptr;
    if (RegCreateKeyEx(rootFor(scope), kProductKey, KEY_WRITE, &product) != ERROR_SUCCESS)
        return nullptr;
    const tavrelo::registry::RegKey productGuard(product);
    HKEY moduleKey = nullptr;
    if (RegCreateKeyEx(product, module.toUtf8().constData(), KEY_WRITE, &moduleKey) != ERROR_SUCCESS)
        return nullptr;
    return moduleKey;
}

} // namespace settings

HRESULT Quillet::get_RegistryString(const QString &module, const QString &name, int whereFlag, QString *value)
{
    if (module.isNull() || name.isNull() || !value)
        return E_INVALIDARG;
    const QByteArray valueName = name.toUtf8();
    readSetting(whereFlag, module, [&](HKEY key) { return queryString(key, valueName, value); });
    return S_OK;
}

HRESULT Quillet::put_RegistryString(const QString &module, const QString &name, int whereFlag, const QString &value)
{
    if (module.isNull() || name.isNull())
        return E_INVALIDARG;
    const tavrelo::registry::RegKey key(settings::openModuleKeyForWriting(whereFlag, module));
    if (!key)
        return S_OK; // nothing written
    const QByteArray valueName = name.toUtf8();
    if (value.isEmpty()) {
        RegDeleteValue(key.handle(), valueName.constData()); // an absent value is no error
        return S_OK;
    }
    const QByteArray text = value.toUtf8();
    RegSetValueEx(key.handle(), valueName.constData(), REG_SZ, reinterpret_cast<const BYTE *>(text.constData()),
                  static_cast<DWORD>(text.size() + 1));
    return S_OK;
}

HRESULT Quillet::get_RegistryDWORD(const QString &module, const QString &name, int whereFlag, std::int32_t *value)
{
    if (module.isNull() || name.isNull() || !value)
        return E_INVALIDARG;
    const QByteArray valueName = name.toUtf8();
    readSetting(whereFlag, module, [&](HKEY key) { return queryNumber(key, valueName, value); });
    return S_OK;
}

HRESULT Quillet::put_RegistryDWORD(const QString &module, const QString &name, int whereFlag, std::int32_t value)
{
    if (module.isNull() || name.isNull())
        return E_INVALIDARG;
    const tavrelo::registry::RegKey key(settings::openModuleKeyForWriting(whereFlag, module));
    if (!key)
        return S_OK;
    const auto bits = static_cast<DWORD>(value);
    const std::array<BYTE, 4> bytes{static_cast<BYTE>(bits), static_cast<BYTE>(bits >> 8), static_cast<BYTE>(bits >> 16),
                                    static_cast<BYTE>(bits >> 24)};
    RegSetValueEx(key.handle(), name.toUtf8().constData(), REG_DWORD, bytes.data(), 4);
    return S_OK;
}

HRESULT Quillet::get_KeyRegistryString(const QString & /*key: always HKEY_LOCAL_MACHINE*/, const QString &subKey,
                                       const QString &name, QString *value)
{
    if (!value)
        return E_POINTER;
    HKEY opened = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, subKey.toUtf8().constData(), KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return S_OK; // no key: no result
    const tavrelo::registry::RegKey key(opened);
    return queryString(key.handle(), name.toUtf8(), value) ? S_OK : E_INVALIDARG;
}

} // namespace tavrelo::helpers
