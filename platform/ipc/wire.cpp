#include "wire.h"

#include "endpoint.h"

#include <QtEndian>

namespace tavrelo::ipc::wire {

namespace {

constexpr char kMagic[4] = {'T', 'Q', 'I', 'P'};
constexpr std::uint32_t kVersion = 1;
constexpr qsizetype kHeaderSize = 16;
// A body never holds more than a record or name and its few fields.
constexpr qsizetype kMaxBody = kMaxRecordSize + 1024;

void appendU32(QByteArray &out, std::uint32_t value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void appendI64(QByteArray &out, std::int64_t value)
{
    char bytes[8];
    qToLittleEndian(value, bytes);
    out.append(bytes, 8);
}

QByteArray frame(Kind kind, const QByteArray &body)
{
    QByteArray out(kMagic, 4);
    appendU32(out, kVersion);
    appendU32(out, static_cast<std::uint32_t>(kind));
    appendU32(out, static_cast<std::uint32_t>(body.size()));
    return out + body;
}

// Reads fields off a body, refusing to run past its end.
class Reader {
public:
    explicit Reader(QByteArrayView body) : m_body(body) {}
    bool u32(std::uint32_t *value)
    {
        if (m_body.size() - m_at < 4)
            return false;
        *value = qFromLittleEndian<std::uint32_t>(m_body.data() + m_at);
        m_at += 4;
        return true;
    }
    bool i64(std::int64_t *value)
    {
        if (m_body.size() - m_at < 8)
            return false;
        *value = qFromLittleEndian<std::int64_t>(m_body.data() + m_at);
        m_at += 8;
        return true;
    }
    bool bytes(QByteArray *value)
    {
        std::uint32_t length = 0;
        if (!u32(&length) || length > std::uint32_t(m_body.size() - m_at))
            return false;
        *value = m_body.sliced(m_at, length).toByteArray();
        m_at += length;
        return true;
    }
    QByteArray rest() { return m_body.sliced(std::exchange(m_at, m_body.size())).toByteArray(); }
    bool atEnd() const { return m_at == m_body.size(); }

private:
    QByteArrayView m_body;
    qsizetype m_at = 0;
};

} // namespace

ParseState parseRequest(const QByteArray &buffer, Request *request)
{
    if (buffer.size() < kHeaderSize)
        return QByteArrayView(buffer).first(std::min<qsizetype>(buffer.size(), 4)) ==
                       QByteArrayView(kMagic, 4).first(std::min<qsizetype>(buffer.size(), 4))
                   ? ParseState::Incomplete
                   : ParseState::Malformed;
    Reader header(QByteArrayView(buffer).sliced(4, kHeaderSize - 4));
    std::uint32_t version = 0, kind = 0, length = 0;
    header.u32(&version);
    header.u32(&kind);
    header.u32(&length);
    if (!buffer.startsWith(QByteArrayView(kMagic, 4)) || version != kVersion || length > kMaxBody)
        return ParseState::Malformed;
    if (buffer.size() < kHeaderSize + qsizetype(length))
        return ParseState::Incomplete;
    if (buffer.size() > kHeaderSize + qsizetype(length))
        return ParseState::Malformed; // one request per connection

    Reader body(QByteArrayView(buffer).sliced(kHeaderSize));
    *request = Request();
    if (kind == std::uint32_t(Kind::Send)) {
        QByteArray sender;
        if (!body.bytes(&sender) || !body.u32(&request->tag))
            return ParseState::Malformed;
        request->kind = Kind::Send;
        request->sender = QString::fromUtf8(sender);
        request->data = body.rest();
        return request->data.size() <= kMaxRecordSize ? ParseState::Complete : ParseState::Malformed;
    }
    if (kind == std::uint32_t(Kind::Post)) {
        request->kind = Kind::Post;
        if (!body.bytes(&request->name) || !body.i64(&request->wParam) || !body.i64(&request->lParam) || !body.atEnd())
            return ParseState::Malformed;
        return ParseState::Complete;
    }
    return ParseState::Malformed;
}

QByteArray sendRequest(const QString &sender, std::uint32_t tag, const QByteArray &data)
{
    QByteArray body;
    const QByteArray id = sender.toUtf8();
    appendU32(body, static_cast<std::uint32_t>(id.size()));
    body.append(id);
    appendU32(body, tag);
    body.append(data);
    return frame(Kind::Send, body);
}

QByteArray postRequest(const QByteArray &name, std::int64_t wParam, std::int64_t lParam)
{
    QByteArray body;
    appendU32(body, static_cast<std::uint32_t>(name.size()));
    body.append(name);
    appendI64(body, wParam);
    appendI64(body, lParam);
    return frame(Kind::Post, body);
}

QByteArray answer(bool accepted)
{
    return QByteArray(1, accepted ? char(1) : char(0));
}

}
