#pragma once

// What travels over an endpoint's socket. One request per connection, little-endian:
//
//   "TQIP"  u32 version (1)  u32 kind  u32 length of the body
//   kind 1, a sent record:     u32 sender length, sender id (UTF-8), u32 tag, the record's bytes
//   kind 2, a posted message:  u32 name length, name, i64 wParam, i64 lParam
//
// A sent record is answered with one byte, 1 for accepted and 0 for refused; a posted message
// is not answered. Anything that does not parse is dropped unanswered.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace tavrelo::ipc::wire {

enum class Kind : std::uint32_t { Send = 1, Post = 2 };

struct Request {
    Kind kind = Kind::Send;
    QString sender;       // Send
    std::uint32_t tag = 0; // Send
    QByteArray data;      // Send
    QByteArray name;      // Post
    std::int64_t wParam = 0, lParam = 0; // Post
};

enum class ParseState { Incomplete, Complete, Malformed };

// Reads the request at the start of `buffer`.
ParseState parseRequest(const QByteArray &buffer, Request *request);

QByteArray sendRequest(const QString &sender, std::uint32_t tag, const QByteArray &data);
QByteArray postRequest(const QByteArray &name, std::int64_t wParam, std::int64_t lParam);
QByteArray answer(bool accepted);

}
