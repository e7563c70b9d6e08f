#include "jobreply.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebEngineUrlRequestJob>

namespace tavrelo::htahost {

void replyBytes(QWebEngineUrlRequestJob *job, const QByteArray &mimeType, const QByteArray &bytes)
{
    if (!job)
        return;
    auto *buffer = new QBuffer(job); // lives as long as the request
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    job->setProperty(kAnsweredProperty, true);
    job->reply(mimeType, buffer);
}

namespace {

void replyJson(QWebEngineUrlRequestJob *job, const QJsonObject &answer)
{
    replyBytes(job, QByteArrayLiteral("application/json"), QJsonDocument(answer).toJson(QJsonDocument::Compact));
}

}

void replyResult(QWebEngineUrlRequestJob *job, const QJsonValue &result)
{
    replyJson(job, QJsonObject{{QStringLiteral("result"), result}});
}

void replyError(QWebEngineUrlRequestJob *job, HRESULT hr, const QString &description)
{
    replyJson(job, QJsonObject{{QStringLiteral("error"), QJsonObject{{QStringLiteral("number"), hr},
                                                                     {QStringLiteral("description"), description}}}});
}

} // namespace tavrelo::htahost
