#include "records.h"

#include <QtEndian>

#include <cstring>

namespace tavrelo::messaging {

namespace {

constexpr qsizetype kPathOffset = 8;
constexpr qsizetype kPathField = kMaxPathBytes + 1;
constexpr qsizetype kFolderIdOffset = 532;

QByteArray record(qsizetype size, std::uint32_t tag, const QByteArray &path)
{
    QByteArray data(size, '\0');
    qToLittleEndian(static_cast<std::uint32_t>(size), data.data());
    qToLittleEndian(tag, data.data() + 4);
    std::memcpy(data.data() + kPathOffset, path.constData(), std::min(path.size(), kMaxPathBytes));
    return data;
}

// Cuts bytes that are meant to be UTF-8 without splitting a character (continuation bytes are
// 10xxxxxx).
QByteArray cutOnCharacter(QByteArray bytes, qsizetype limit)
{
    if (bytes.size() <= limit)
        return bytes;
    qsizetype end = limit;
    while (end > 0 && (static_cast<unsigned char>(bytes.at(end)) & 0xC0) == 0x80)
        --end;
    bytes.truncate(end);
    return bytes;
}

} // namespace

QByteArray cutUtf8(const QString &text, qsizetype limit)
{
    return cutOnCharacter(text.toUtf8(), limit);
}

QByteArray changeRecord(const QString &path, std::int32_t folderId)
{
    QByteArray data = record(kChangeRecordSize, kChangeTag, cutUtf8(path, kMaxPathBytes));
    qToLittleEndian(folderId, data.data() + kFolderIdOffset);
    return data;
}

QByteArray openRecord(const QByteArray &text)
{
    return record(kOpenRecordSize, kOpenTag, cutOnCharacter(text, kMaxPathBytes));
}

std::optional<Record> parseRecord(const QByteArray &data)
{
    if (data.size() != kChangeRecordSize && data.size() != kOpenRecordSize)
        return std::nullopt;
    const auto size = qFromLittleEndian<std::uint32_t>(data.constData());
    const auto tag = qFromLittleEndian<std::uint32_t>(data.constData() + 4);
    // The announced size must be the size given: a record is never read beyond its bytes.
    if (size != std::uint32_t(data.size()))
        return std::nullopt;
    Record parsed;
    if (size == kChangeRecordSize && tag == kChangeTag) {
        parsed.kind = Record::Kind::Change;
        parsed.folderId = qFromLittleEndian<std::int32_t>(data.constData() + kFolderIdOffset);
    } else if (size == kOpenRecordSize && tag == kOpenTag) {
        parsed.kind = Record::Kind::Open;
    } else {
        return std::nullopt;
    }
    const char *path = data.constData() + kPathOffset;
    parsed.path = QByteArray(path, qsizetype(::strnlen(path, kMaxPathBytes)));
    return parsed;
}

} // namespace tavrelo::messaging
