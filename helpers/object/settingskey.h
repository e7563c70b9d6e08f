#pragma once

// The settings module key: <root>\SOFTWARE\Tavrelo\Quillet\<module>, where the root is
// HKEY_LOCAL_MACHINE for a scope below 1 and HKEY_CURRENT_USER otherwise. Shared by the settings
// members and the window placement.

#include "registry/winreg.h"

#include <QString>

namespace tavrelo::helpers {

namespace settings {

inline constexpr int kScopeMachine = 0;
inline constexpr int kScopeUserOnly = 1;
inline constexpr int kScopeUserThenMachine = 2;

// Both return null when the key cannot be opened (or created); the caller closes the key.
tavrelo::registry::HKEY openModuleKeyForReading(int scope, const QString &module);
tavrelo::registry::HKEY openModuleKeyForWriting(int scope, const QString &module);

// Closes the key when it goes out of scope.
class KeyGuard final {
public:
    explicit KeyGuard(tavrelo::registry::HKEY key) : m_key(key) {}
    ~KeyGuard()
    {
        if (m_key)
            tavrelo::registry::RegCloseKey(m_key);
    }
    KeyGuard(const KeyGuard &) = delete;
    KeyGuard &operator=(const KeyGuard &) = delete;
    tavrelo::registry::HKEY get() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }

private:
    tavrelo::registry::HKEY m_key;
};

} // namespace settings

} // namespace tavrelo::helpers
