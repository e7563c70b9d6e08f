#include "capturedialog.h"

#include "sync/runtimedir.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace tavrelo::ipc::capturedialog {

bool standbyWanted() { return qEnvironmentVariable("TAVRELO_CAPTURE_STANDBY") != u"0"; }

QString socketPath() { return tavrelo::sync::runtimeDirectory() + QStringLiteral("/capture-dialog"); }

QString lockPath() { return tavrelo::sync::runtimeDirectory() + QStringLiteral("/capture-dialog.lock"); }

QByteArray line(const QJsonObject &message) { return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n'; }

std::optional<QJsonObject> takeLine(QByteArray *buffer, bool *malformed)
{
    *malformed = false;
    const qsizetype end = buffer->indexOf('\n');
    if (end < 0) {
        *malformed = buffer->size() > kMaxLineBytes;
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(buffer->left(end), &error);
    buffer->remove(0, end + 1);
    if (end > kMaxLineBytes || error.error != QJsonParseError::NoError || !document.isObject()) {
        *malformed = true;
        return std::nullopt;
    }
    return document.object();
}

std::optional<QJsonObject> menuArguments(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    QJsonObject captured;
    for (const char *key : {"title", "url", "selectionType", "text"}) {
        const QJsonValue member = value.toObject().value(QLatin1String(key));
        if (!member.isString())
            return std::nullopt;
        captured.insert(QLatin1String(key), member);
    }
    return captured;
}

} // namespace tavrelo::ipc::capturedialog
