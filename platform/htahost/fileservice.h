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
