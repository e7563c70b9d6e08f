#pragma once

// The settings module key: <root>\SOFTWARE\Tavrelo\Quillet\<module>, where the root is
// HKEY_LOCAL_MACHINE for a scope below 1 and HKEY_CURRENT_USER otherwise. Shared by the settings
// members and the window placement.

#include "registry/regkey.h"

#include <QString>

namespace tavrelo::helpers {

namespace settings {

inline constexpr int kScopeMachine = 0;
inline constexpr int kScopeUserOnly = 1;
inline constexpr int kScopeUserThenMachine = 2;

// Both return null when the key cannot be opened (or created); the caller closes the key, best
// by handing it to a tavrelo::registry::RegKey.
tavrelo::registry::HKEY openModuleKeyForReading(int scope, const QString &module);
tavrelo::registry::HKEY openModuleKeyForWriting(int scope, const QString &module);

} // namespace settings

} // namespace tavrelo::helpers
