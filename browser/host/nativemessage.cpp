#include "nativemessage.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringDecoder>

#include <cstring>

namespace tavrelo::nativehost {

namespace {

// Error texts name what was wrong, never what the page sent, and stay short.
constexpr qsizetype kMaxErrorChars = 2000;

bool isBlank(const QString &text)
{
    for (const QChar c : text) {
        if (!c.isSpace())
            return false;
    }
    return true;
}

std::optional<QString> validUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

ParseResult refuse(const QString &error) { return {std::nullopt, error}; }

// A name the browser sent, as an error text shows it: short, on one line.
QString shown(const QString &name)
{
    QString text = name.left(64);
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = u'?';
    }
    return text;
}

} // namespace

PrefixCheck checkPrefix(const unsigned char prefix[4])
{
    std::uint32_t length = 0;
    std::memcpy(&length, prefix, sizeof length); // the machine's own byte order
    if (length == 0)
        return {length, QStringLiteral("message refused: its length prefix is 0, an empty message is not JSON")};
    if (length > kMaxIncomingBytes) {
        return {length, QStringLiteral("message refused: its length prefix announces %1 bytes, more than the %2 "
                                       "bytes a message may have")
                            .arg(length)
                            .arg(kMaxIncomingBytes)};
    }
    return {length, {}};
}

ParseResult parseRequest(const QByteArray &body)
{
    const std::optional<QString> text = validUtf8(body);
    if (!text)
        return refuse(QStringLiteral("message refused: it is not valid UTF-8"));
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(text->toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("message refused: it is not JSON (%1 at byte %2)")
                          .arg(parseError.errorString())
                          .arg(parseError.offset));
    if (!document.isObject())
        return refuse(QStringLiteral("message refused: it is not a JSON object"));
    const QJsonObject object = document.object();
    const QJsonValue command = object.value(QLatin1String("command"));
    if (!command.isString())
        return refuse(QStringLiteral("message refused: \"command\" is missing or not a string"));

    Request request;
    QStringList fields;
    if (command.toString() == u"grab") {
        request.command = Request::Command::Grab;
        fields = {QStringLiteral("title"), QStringLiteral("url"), QStringLiteral("selectionType"),
                  QStringLiteral("text")};
    } else if (command.toString() == u"start") {
        request.command = Request::Command::Start;
    } else {
        return refuse(QStringLiteral("message refused: unknown command \"%1\"")
                          .arg(shown(command.toString())));
    }
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.key() != u"command" && !fields.contains(it.key()))
            return refuse(QStringLiteral("message refused: unexpected field \"%1\" in a \"%2\" command")
                              .arg(shown(it.key()), command.toString()));
    }
    for (const QString &field : fields) {
        const QJsonValue value = object.value(field);
        if (!value.isString())
            return refuse(QStringLiteral("message refused: \"%1\" is missing or not a string").arg(field));
    }
    if (request.command == Request::Command::Grab) {
        request.title = object.value(QLatin1String("title")).toString();
        request.url = object.value(QLatin1String("url")).toString();
        request.selectionType = object.value(QLatin1String("selectionType")).toString();
        request.text = object.value(QLatin1String("text")).toString();
        if (request.selectionType.compare(u"Text", Qt::CaseInsensitive) != 0 || isBlank(request.text))
            return refuse(QStringLiteral("You should select some text to grab"));
    }
    return {request, {}};
}

QByteArray successAnswer(const QString &outcome)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("outcome"), outcome}})
        .toJson(QJsonDocument::Compact);
}

QByteArray errorAnswer(const QString &error)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), error.left(kMaxErrorChars)}})
        .toJson(QJsonDocument::Compact);
}

QByteArray frame(const QByteArray &body)
{
    const auto length = static_cast<std::uint32_t>(body.size());
    QByteArray bytes(reinterpret_cast<const char *>(&length), sizeof length);
    return bytes + body;
}

} // namespace tavrelo::nativehost
