#include "regkey.h"

#include <utility>
#include <vector>

namespace tavrelo::registry {

RegKey::~RegKey()
{
    if (m_key)
        RegCloseKey(m_key);
}

RegKey::RegKey(RegKey &&other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}

RegKey &RegKey::operator=(RegKey &&other) noexcept
{
    std::swap(m_key, other.m_key);
    return *this;
}

LONG RegKey::open(HKEY parent, const QString &path, REGSAM access, RegKey *key)
{
    HKEY handle = nullptr;
    const LONG error = RegOpenKeyEx(parent, path.toUtf8().constData(), access, &handle);
    *key = RegKey();
    key->m_key = handle;
    return error;
}

LONG RegKey::create(HKEY parent, const QString &path, RegKey *key)
{
    HKEY handle = nullptr;
    const LONG error = RegCreateKeyEx(parent, path.toUtf8().constData(), KEY_ALL_ACCESS, &handle);
    *key = RegKey();
    key->m_key = handle;
    return error;
}

std::optional<QString> RegKey::string(const QString &name) const
{
    const QByteArray valueName = name.toUtf8();
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueEx(m_key, valueName.constData(), &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::vector<BYTE> data(size + 1, 0);
    if (RegQueryValueEx(m_key, valueName.constData(), &type, data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    const char *text = reinterpret_cast<const char *>(data.data()); // NUL-terminated: one byte more
    if (type == REG_SZ)
        return QString::fromUtf8(text);
    const DWORD expandedSize = ExpandEnvironmentStrings(text, nullptr, 0);
    std::vector<char> expanded(expandedSize, 0);
    ExpandEnvironmentStrings(text, expanded.data(), expandedSize);
    return QString::fromUtf8(expanded.data());
}

LONG RegKey::setValue(const QString &name, DWORD type, const QByteArray &data) const
{
    return RegSetValueEx(m_key, name.toUtf8().constData(), type, reinterpret_cast<const BYTE *>(data.constData()),
                         DWORD(data.size()));
}

LONG RegKey::setString(const QString &name, const QString &text) const
{
    QByteArray data = text.toUtf8();
    data.append('\0');
    return setValue(name, REG_SZ, data);
}

LONG RegKey::deleteValue(const QString &name) const { return RegDeleteValue(m_key, name.toUtf8().constData()); }

QStringList RegKey::subKeys() const
{
    DWORD count = 0;
    DWORD longest = 0;
    QStringList names;
    if (RegQueryInfoKey(m_key, &count, &longest) != ERROR_SUCCESS)
        return names;
    std::vector<char> name(longest + 1);
    for (DWORD i = 0;; ++i) {
        DWORD size = DWORD(name.size());
        if (RegEnumKeyEx(m_key, i, name.data(), &size) != ERROR_SUCCESS)
            break;
        names.append(QString::fromUtf8(name.data(), qsizetype(size)));
    }
    return names;
}

bool RegKey::isEmpty() const
{
    DWORD subKeys = 0;
    DWORD values = 0;
    return RegQueryInfoKey(m_key, &subKeys, nullptr, &values) == ERROR_SUCCESS && subKeys == 0 && values == 0;
}

QString readRegString(HKEY root, const QString &path, const QString &name)
{
    RegKey key;
    if (RegKey::open(root, path, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    return key.string(name).value_or(QString());
}

bool deleteKeyIfEmpty(HKEY parent, const QString &path)
{
    RegKey key;
    if (RegKey::open(parent, path, KEY_READ, &key) != ERROR_SUCCESS || !key.isEmpty())
        return false;
    key = RegKey();
    return RegDeleteKey(parent, path.toUtf8().constData()) == ERROR_SUCCESS;
}

}
