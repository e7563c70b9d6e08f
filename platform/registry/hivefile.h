#pragma once

// A hive's file: where it lives, reading it as other processes left it, and changing it as one
// atomic step that no concurrent writer in another process can undo.

#include "hive.h"

#include <filesystem>
#include <functional>

namespace tavrelo::registry {

enum class HiveId { User, Machine };

// "user.reg" or "machine.reg" in $TAVRELO_REGISTRY_DIR when that is set; otherwise
// $XDG_CONFIG_HOME/tavrelo/user.reg and tavrelo/machine.reg in the first folder of
// $XDG_CONFIG_DIRS (default /etc/xdg) that holds one, else in its first folder.
std::filesystem::path hivePath(HiveId id);

// Reads the hive as it is on disk now. A missing file is an empty hive. A file that cannot be
// parsed is reported on standard error and moved aside (when this process may), and reads as empty.
Hive readHive(HiveId id);

// Takes the hive's lock, reads it, lets `change` edit it and, when `change` returns
// ERROR_SUCCESS with `changed` set, writes it back atomically. Returns `change`'s result or the
// error that kept the change from being stored. A hive that cannot be parsed and cannot be moved
// aside is never overwritten: ERROR_BADDB.
using HiveChange = std::function<LONG(Hive &hive, bool &changed)>;
LONG changeHive(HiveId id, const HiveChange &change);

} // namespace tavrelo::registry
