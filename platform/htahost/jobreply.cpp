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
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    replyDevice(job, mimeType, std::move(buffer));
}

void replyDevice(QWebEngineUrlRequestJob *job, const QByteArray &mimeType, std::unique_ptr<QIODevice> device)
{
    if (!job)
        return;
    device->setParent(job); // lives as long as the request
    job->setProperty(kAnsweredProperty, true);
    job->reply(mimeType, device.release());
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
