#pragma once

// The native-messaging protocol of the browsers: every message is a 32-bit length in the
// machine's byte order followed by that many bytes of UTF-8 JSON, in both directions. This file
// holds the checks a message from the browser goes through before anything acts on it, and the
// forming of our answers.

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace tavrelo::nativehost {

// What we take from the browser: far more than any real selection, little enough to hold.
inline constexpr std::uint32_t kMaxIncomingBytes = 16u * 1024u * 1024u;
// What the browsers take from a host: Chromium refuses answers of 1 MiB and more.
inline constexpr std::uint32_t kMaxAnswerBytes = 1024u * 1024u - 1u;

// The length a frame's four-byte prefix announces, or why it cannot be read on from there. A
// refused prefix ends the conversation: the bytes after it cannot be trusted to start a frame.
struct PrefixCheck {
    std::uint32_t length = 0;
    QString error; // empty when the length is acceptable
};
PrefixCheck checkPrefix(const unsigned char prefix[4]);

// One checked request.
struct Request {
    enum class Command { Grab, Start };
    Command command = Command::Grab;
    QString title;
    QString url;
    QString selectionType;
    QString text;
};

// The request a frame's body holds, or the reason it is refused (then `request` is empty).
struct ParseResult {
    std::optional<Request> request;
    QString error;
};
ParseResult parseRequest(const QByteArray &body);

// Answers, each the JSON body of one frame, always under kMaxAnswerBytes.
QByteArray successAnswer(const QString &outcome);
QByteArray errorAnswer(const QString &error);
// The four-byte prefix and the body.
QByteArray frame(const QByteArray &body);

} // namespace tavrelo::nativehost
