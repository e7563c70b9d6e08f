// File-name abbreviation, on the UTF-8 bytes of the path.

#include "abbreviation.h"

#include "quillet.h"

#include <QByteArray>

namespace tavrelo::helpers {

namespace {

// The separators between directories. ":" ends a drive name and so also ends the directory part
// before the file name, but is never where a directory is cut.
bool isDirectorySeparator(char c) { return c == '/' || c == '\\'; }
bool isNameSeparator(char c) { return isDirectorySeparator(c) || c == ':'; }

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The position after the character at `at`: one lead byte and its continuation bytes.
qsizetype nextCharacter(const QByteArray &bytes, qsizetype at)
{
    ++at;
    while (at < bytes.size() && (static_cast<unsigned char>(bytes.at(at)) & 0xC0) == 0x80)
        ++at;
    return at;
}

// The first directory separator at or after `at`; -1 when the path ends first.
qsizetype nextSeparator(const QByteArray &bytes, qsizetype at)
{
    for (; at < bytes.size(); ++at) {
        if (isDirectorySeparator(bytes.at(at)))
            return at;
    }
    return -1;
}

// A non-null empty string: the result of a cut that leaves nothing is still a result.
QString emptyResult() { return QStringLiteral(""); }

QString text(const QByteArray &bytes) { return bytes.isEmpty() ? emptyResult() : QString::fromUtf8(bytes); }

} // namespace

QString abbreviateFileName(const QString &path, int limit, bool keepName)
{
    const QByteArray bytes = path.toUtf8();
    const qsizetype length = bytes.size();
    const qsizetype n = limit;

    qsizetype nameStart = length;
    while (nameStart > 0 && !isNameSeparator(bytes.at(nameStart - 1)))
        --nameStart;
    const QByteArray name = bytes.mid(nameStart);
    const qsizetype nameLength = name.size();

    if (length <= n)
        return path.isNull() ? emptyResult() : path;
    if (nameLength > n)
        return keepName ? text(name) : emptyResult();

    // The volume part. A drive path ("C:\...") and a network path ("\\server\share", also with
    // "/") start just after the drive's colon or the two leading separators, as on Windows. Any
    // other path starts at its first byte: a POSIX absolute path's root "/" stands where "C:\"
    // stands, and the first directory after it joins the volume part in the same way.
    const bool network = length >= 2 && isDirectorySeparator(bytes.at(0)) && isDirectorySeparator(bytes.at(1));
    const bool drive = length >= 2 && isAsciiLetter(bytes.at(0)) && bytes.at(1) == ':';
    qsizetype volume = network || drive ? 2 : 0;
    if (network) {
        volume = nextSeparator(bytes, volume); // the end of the server name
        if (volume < 0)
            return text(name);
    }
    if (length - nameLength > 3) {
        volume = nextSeparator(bytes, nextCharacter(bytes, volume)); // the first directory or share
        if (volume < 0)
            return text(name);
    }

    if (n < volume + 5 + nameLength)
        return text(name);

    // Drop whole directories after the volume part until the rest fits behind it and "/...".
    // The ellipsis uses the separator the volume part ends at, so a Windows-style path keeps
    // its backslashes.
    qsizetype cursor = volume;
    while (volume + 4 + (length - cursor) > n) {
        cursor = nextSeparator(bytes, nextCharacter(bytes, cursor));
        if (cursor < 0) // the file name follows a ":", which is never cut at
            return text(name);
    }
    const char separator = volume < length && isDirectorySeparator(bytes.at(volume)) ? bytes.at(volume) : '/';
    return QString::fromUtf8(bytes.left(volume) + separator + "..." + bytes.mid(cursor));
}

HRESULT Quillet::AbbreviateFileName(const QString &fileName, QString *abbreviated)
{
    if (fileName.isNull() || !abbreviated)
        return E_INVALIDARG;
    *abbreviated = abbreviateFileName(fileName, 50, true);
    return S_OK;
}

} // namespace tavrelo::helpers
