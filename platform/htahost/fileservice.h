#pragma once

// Whole files for the pages of the application: read as text, or written atomically; and the
// identity of a file, by which a page tells whether anybody wrote the file since it read or
// wrote it itself.

#include "objecttable.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

namespace tavrelo::htahost {

// The largest file the service reads: far above any real collection, and a bound on what one
// read may put into memory.
inline constexpr qint64 kMaxReadBytes = qint64(2) << 30; // 2 GiB

// The failure of a read that is refused before anything is read: the path names a folder, or
// something that is not a regular file (a device such as /dev/zero, which never ends; a pipe,
// which may wait for a writer for ever; a socket), or a file larger than kMaxReadBytes.
// (ERROR_BAD_FILE_TYPE.)
inline constexpr HRESULT E_NOT_A_READABLE_FILE = HRESULT_FROM_WIN32(222);
// A write that found no room: a full disk, a quota, or the process's file-size limit.
// (ERROR_DISK_FULL.)
inline constexpr HRESULT E_DISK_FULL = HRESULT_FROM_WIN32(112);

// A file as read: its bytes, as UTF-8 when it is UTF-8 already (no conversion is needed to hand
// it to a page) or decoded and encoded again otherwise, and its identity at the time of the read
// (empty when the file changed while it was read).
struct FileRead {
    QByteArray utf8;
    QString identity;
};

// Reads a file: decoded by its byte-order mark, else by the encoding its XML declaration names,
// else as UTF-8. Only regular files of at most kMaxReadBytes are read; anything else fails with
// E_NOT_A_READABLE_FILE and a description that names the path and the reason.
CallResult readFile(const QString &path, FileRead *read);
// A file opened to be read as it is used: the engine parses a large collection from it as the
// bytes arrive, while nothing else holds them. Only a file that is UTF-8 as it stands (no
// byte-order mark but UTF-8's, no other encoding declared) is kept open; `file` is null for any
// other, which is read whole by readFile.
struct OpenedFile {
    std::unique_ptr<QFile> file;
    QByteArray head; // its first bytes, enough for the prolog of a collection
    QString identity;
};
CallResult openUtf8File(const QString &path, OpenedFile *opened);
// The text of a file, as readFile reads it.
CallResult readTextFile(const QString &path);
// Writes UTF-8 into a temporary file beside the target, flushes it to disk and renames it over
// the target, so a reader sees the old or the new file, never a part: as UTF-8, or as UTF-16
// little-endian with a byte-order mark when `encoding` is "utf-16le". The result is
// {"identity": the identity of the new file}. A file without any write permission is not
// replaced, whoever writes; a failure leaves the old file as it was and no temporary file.
CallResult writeTextFile(const QString &path, const QString &text, const QString &encoding = {});
// Keeps a copy of a file that cannot be used as it is (a damaged collection) beside it, named
// "<name>.damaged-<date>-<time>", before anything may be written over it. A copy with the same
// content that is already there is reused, so a file is copied (and its user told) only once.
// The result is {"copy": path of the copy, "made": whether this call made it}. Reads as
// readTextFile does.
CallResult preserveDamagedFile(const QString &path);

// The identity of the file at the path now: device, inode, size, modification and change times
// and a digest of its first bytes (where a collection keeps its stamp). Empty when there is no
// regular file. A write by anybody else changes it: a replaced file has another inode, a file
// written in place another change time, and a rewritten beginning another digest.
QString fileIdentity(const QString &path);

// The steps of an atomic write whose bytes another writer puts into the temporary file.
// Checks that `path` may be written (its folder exists, it is no folder, it is not read-only);
// `mode` receives the permissions the new file gets: the old file's, else those a new file gets.
CallResult checkWritable(const QString &path, unsigned *mode);
// A temporary name beside `path` that nothing has; the file is not created.
QString temporaryNameBeside(const QString &path);
// Gives the written temporary file its permissions, flushes it to disk, renames it over `path`
// and returns {"identity"}; removes it on failure.
CallResult commitTemporary(const QString &temporary, const QString &path, unsigned mode);
// The failure of writing `path` for the system's error `error`.
CallResult writeFailure(const QString &path, int error);

} // namespace tavrelo::htahost
