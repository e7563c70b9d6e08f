#pragma once

// Answers to requests of the res: scheme.

#include "automation/hresult.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <memory>

class QIODevice;
class QWebEngineUrlRequestJob;

namespace tavrelo::htahost {

// Set on a request once it has been answered.
inline constexpr char kAnsweredProperty[] = "tavreloAnswered";

void replyBytes(QWebEngineUrlRequestJob *job, const QByteArray &mimeType, const QByteArray &bytes);
// An answer the engine reads from the device as it goes (an open file); the request owns it.
void replyDevice(QWebEngineUrlRequestJob *job, const QByteArray &mimeType, std::unique_ptr<QIODevice> device);
// The bridge's answers: {"result": value} or {"error": {"number": hr, "description": text}}.
void replyResult(QWebEngineUrlRequestJob *job, const QJsonValue &result);
void replyError(QWebEngineUrlRequestJob *job, HRESULT hr, const QString &description);

} // namespace tavrelo::htahost
