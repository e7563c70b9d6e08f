#pragma once

#include <cstdint>

// What the tests read back from the registry, through the plain registry interface rather than
// through the code under test.

#include "registry/regkey.h"
#include "registry/winreg.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace registryprobe {

using namespace tavrelo::registry;

// The key opened for reading; an empty key when it cannot be opened.
inline RegKey openKey(HKEY root, const QString &path)
{
    RegKey key;
    RegKey::open(root, path, KEY_READ, &key);
    return key;
}

inline bool keyExists(HKEY root, const QString &path) { return bool(openKey(root, path)); }

// The raw bytes and type of a value; none when it is missing.
inline std::optional<std::pair<DWORD, QByteArray>> rawValue(HKEY root, const QString &path, const QString &name = {})
{
    const RegKey key = openKey(root, path);
    DWORD type = 0;
    DWORD size = 0;
    const QByteArray valueName = name.toUtf8();
    if (!key.handle() || RegQueryValueEx(key.handle(), valueName.constData(), &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    QByteArray data(qsizetype(size), '\0');
    RegQueryValueEx(key.handle(), valueName.constData(), &type, reinterpret_cast<BYTE *>(data.data()), &size);
    return std::make_pair(type, data);
}

// A REG_SZ value as text; none when missing or of another type.
inline std::optional<QString> stringValue(HKEY root, const QString &path, const QString &name = {})
{
    const auto raw = rawValue(root, path, name);
    if (!raw || raw->first != REG_SZ)
        return std::nullopt;
    return QString::fromUtf8(raw->second.constData());
}

inline QStringList subKeys(HKEY root, const QString &path)
{
    const RegKey key = openKey(root, path);
    QStringList names;
    char name[512];
    for (DWORD i = 0; key.handle(); ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyEx(key.handle(), i, name, &size) != ERROR_SUCCESS)
            break;
        names.append(QString::fromUtf8(name, qsizetype(size)));
    }
    return names;
}

inline QStringList valueNames(HKEY root, const QString &path)
{
    const RegKey key = openKey(root, path);
    QStringList names;
    char name[512];
    for (DWORD i = 0; key.handle(); ++i) {
        DWORD size = sizeof name;
        if (RegEnumValue(key.handle(), i, name, &size, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.append(QString::fromUtf8(name, qsizetype(size)));
    }
    return names;
}

inline bool setValue(HKEY root, const QString &path, const QString &name, DWORD type, const QByteArray &data)
{
    HKEY key = nullptr;
    if (RegCreateKeyEx(root, path.toUtf8().constData(), KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    const LONG error = RegSetValueEx(key, name.toUtf8().constData(), type,
                                     reinterpret_cast<const BYTE *>(data.constData()), DWORD(data.size()));
    RegCloseKey(key);
    return error == ERROR_SUCCESS;
}

inline bool setString(HKEY root, const QString &path, const QString &name, const QString &text)
{
    return setValue(root, path, name, REG_SZ, text.toUtf8() + '\0');
}

inline bool setDword(HKEY root, const QString &path, const QString &name, std::uint32_t value)
{
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[i] = char((value >> (8 * i)) & 0xFF);
    return setValue(root, path, name, REG_DWORD, data);
}

}
