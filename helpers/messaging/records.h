#pragma once

// The records that instance messaging carries between processes, and the names every process
// must agree on.
//
// Both records are little-endian: a 32-bit size, a 4-byte tag, a 521-byte NUL-terminated path
// field (at most 520 bytes of UTF-8, zero-filled to the end of the field), 3 bytes of alignment;
// the change notification adds a signed 32-bit folder id at offset 532.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace tavrelo::messaging {

inline constexpr char kNotificationClass[] = "Tavrelo Quillet Notification Window";
inline constexpr char kNotificationTitle[] = "Notification Listener Window";
inline constexpr char kMainWindowProperty[] = "TavQuillet IsMainWnd";
inline constexpr char kChangeMessage[] = "TavQuillet Change Notification";
inline constexpr char kOpenMessage[] = "TavQuillet File Open Request";
inline constexpr char kNotificationMutex[] = "TavQuillet Notification Mutex";
inline constexpr char kSplashCloseMessage[] = "Tavrelo~Quillet~Splash~Window~Close";
inline constexpr char kSplashClass[] = "Tavrelo Quillet Splash Window";
inline constexpr char kSplashTitle[] = "Tavrelo Splash";

// How long a sender waits for a receiver to take a record.
inline constexpr int kSendTimeoutMs = 60000;

inline constexpr qsizetype kChangeRecordSize = 536;
inline constexpr qsizetype kOpenRecordSize = 532;
inline constexpr qsizetype kMaxPathBytes = 520;
inline constexpr std::uint32_t kChangeTag = 0x5257434E; // "NCWR"
inline constexpr std::uint32_t kOpenTag = 0x5257464F;   // "OFWR"
// A file-open request may come after a record of this tag that carries the requester's activation
// token (XDG_ACTIVATION_TOKEN, at most kMaxTokenBytes): on Wayland the viewer takes the focus with
// it. A viewer that does not know the tag refuses the record; the request itself is the same.
inline constexpr std::uint32_t kActivationTag = 0x56544341; // "ACTV"
inline constexpr qsizetype kMaxTokenBytes = 4096;

// `text` as UTF-8, cut to at most `limit` bytes without splitting a character.
QByteArray cutUtf8(const QString &text, qsizetype limit);

QByteArray changeRecord(const QString &path, std::int32_t folderId);
// The open record of text that is already in bytes (the launcher's argument string).
QByteArray openRecord(const QByteArray &text);

struct Record {
    enum class Kind { Change, Open } kind;
    QByteArray path; // up to the terminator, at most 520 bytes
    std::int32_t folderId = -1;
};

// The record in `data`, as a receiver accepts it: exactly 536 bytes announcing 536 with the tag
// "NCWR", or exactly 532 announcing 532 with "OFWR". Anything else is refused.
std::optional<Record> parseRecord(const QByteArray &data);

} // namespace tavrelo::messaging
