#pragma once

// Whole files for the pages of the application: read as text, or written atomically.

#include "objecttable.h"

#include <QString>

// The largest file the service reads: far above any real collection, and a bound on what one
// read may put into memory.
inline constexpr qint64 kMaxReadBytes = qint64(2) << 30; // 2 GiB

// The failure of a read that is refused before anything is read: the path names a folder, or
// something that is not a regular file (a device such as /dev/zero, which never ends; a pipe,
// which may wait for a writer for ever; a socket), or a file larger than kMaxReadBytes.
// (ERROR_BAD_FILE_TYPE.)
inline constexpr HRESULT E_NOT_A_READABLE_FILE = HRESULT_FROM_WIN32(222);

// The text of a file: decoded by its byte-order mark, else by the encoding its XML declaration
// names, else as UTF-8. Only regular files of at most kMaxReadBytes are read; anything else
// fails with E_NOT_A_READABLE_FILE and a description that names the path and the reason.
CallResult readTextFile(const QString &path);
// Writes UTF-8 into a temporary file beside the target, flushes it to disk and renames it over
// the target, so a reader sees the old or the new file, never a part.
CallResult writeTextFile(const QString &path, const QString &text, const QString &encoding = {});
// Keeps a copy of a file that cannot be used as it is (a damaged collection) beside it, named
// "<name>.damaged-<date>-<time>", before anything may be written over it. A copy with the same
// content that is already there is reused, so a file is copied (and its user told) only once.
// The result is {"copy": path of the copy, "made": whether this call made it}. Reads as
// readTextFile does.
CallResult preserveDamagedFile(const QString &path);
