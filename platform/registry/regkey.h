#pragma once

// Registry keys as this layer uses them: owned handles, and names and text as QString over the
// UTF-8 registry interface.

#include "winreg.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace tavrelo::registry {

class RegKey final {
public:
    RegKey() = default;
    // Takes over a key opened elsewhere (null for none).
    explicit RegKey(HKEY owned) : m_key(owned) {}
    ~RegKey();
    RegKey(RegKey &&other) noexcept;
    RegKey &operator=(RegKey &&other) noexcept;
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;

    // Opens an existing key; an empty path opens `parent` again.
    static LONG open(HKEY parent, const QString &path, REGSAM access, RegKey *key);
    // Opens a key, creating what is missing.
    static LONG create(HKEY parent, const QString &path, RegKey *key);

    HKEY handle() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }

    // A string value (REG_EXPAND_SZ expanded); none when missing or of another type.
    std::optional<QString> string(const QString &name = {}) const;
    LONG setValue(const QString &name, DWORD type, const QByteArray &data) const;
    LONG setString(const QString &name, const QString &text) const;
    LONG deleteValue(const QString &name) const;
    QStringList subKeys() const;
    // Holds neither subkeys nor values.
    bool isEmpty() const;

private:
    HKEY m_key = nullptr;
};

// The text of a string value of an existing key, or an empty string.
QString readRegString(HKEY root, const QString &path, const QString &name = {});

// Deletes `path` below `parent` when it holds nothing; true when it went.
bool deleteKeyIfEmpty(HKEY parent, const QString &path);

}
