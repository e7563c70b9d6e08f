#pragma once

// Whole files for the pages of the application: read as text, or written atomically.

#include "objecttable.h"

#include <QString>

// The text of a file: decoded by its byte-order mark, else by the encoding its XML declaration
// names, else as UTF-8.
CallResult readTextFile(const QString &path);
// Writes UTF-8 into a temporary file beside the target, flushes it to disk and renames it over
// the target, so a reader sees the old or the new file, never a part.
CallResult writeTextFile(const QString &path, const QString &text);
// Keeps a copy of a file that cannot be used as it is (a damaged collection) beside it, named
// "<name>.damaged-<date>-<time>", before anything may be written over it. A copy with the same
// content that is already there is reused, so a file is copied (and its user told) only once.
// The result is {"copy": path of the copy, "made": whether this call made it}.
CallResult preserveDamagedFile(const QString &path);
