#pragma once

// File-name abbreviation: shortens a path for window titles and menus by putting "/..." (or
// "\..." in a Windows-style path) in place of middle directories, keeping the volume part in
// front and as much of the end as fits.
//
// Lengths and the limit are UTF-8 byte counts. The result is always cut at character
// boundaries: it is made of whole path components, and the separators it cuts at are ASCII.

#include "exportmacro.h"

#include <QString>

namespace tavrelo::helpers {

// Abbreviates `path` to at most `limit` UTF-8 bytes.
//
// - The file name is what follows the last "/", "\" or ":" (the whole path when there is none).
// - A path of at most `limit` bytes is returned unchanged.
// - When the file name alone is longer than `limit`, the result is the file name if `keepName`
//   is set, else an empty string.
// - Otherwise the volume part is kept: "C:\dir" for a drive path, "\\server\share" or
//   "//server/share" for a network path, "/dir" (the root plus the first directory) for a POSIX
//   absolute path, the first directory for a relative one. Then directories after it are
//   dropped from the front until volume + "/..." + the rest fits.
// - When the limit leaves no room for the volume part, "/..." and the file name, or when a
//   separator that the volume part or the cut needs is missing, the result is the file name.
TAVRELO_HELPERS_EXPORT QString abbreviateFileName(const QString &path, int limit, bool keepName);

} // namespace tavrelo::helpers
