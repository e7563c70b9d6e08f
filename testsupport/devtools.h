#pragma once

// A DevTools protocol client for tests: finds a page of htahost by the end of its address in the
// list the DevTools server gives (QTWEBENGINE_REMOTE_DEBUGGING) and evaluates script in it.

#include "support/eventloop.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QWebSocket>

#include <functional>
#include <memory>

class DevToolsPage {
public:
    static constexpr int kWaitMs = 30000;

    explicit DevToolsPage(quint16 port) : m_port(port) {}

    // The pages the server lists: url -> title.
    QList<QJsonObject> targets()
    {
        std::unique_ptr<QNetworkReply> reply(
            m_network.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json").arg(m_port)))));
        turnUntil([&reply] { return reply->isFinished(); }, 5000);
        QList<QJsonObject> pages;
        for (const QJsonValue target : QJsonDocument::fromJson(reply->readAll()).array())
            pages << target.toObject();
        return pages;
    }

    // Connects to the first page whose address ends with `suffix`; false when none comes in time.
    bool attach(const QString &suffix)
    {
        return attach([&suffix](const QJsonObject &page) { return page.value(QStringLiteral("url")).toString().endsWith(suffix); });
    }

    // Connects to the first page of the list that `accept` takes (a page's `id` tells one window
    // from another of the same address); false when none comes in time.
    bool attach(const std::function<bool(const QJsonObject &)> &accept)
    {
        QString address;
        turnUntil(
            [&] {
                for (const QJsonObject &page : targets())
                    if (accept(page)) {
                        address = page.value(QStringLiteral("webSocketDebuggerUrl")).toString();
                        m_id = page.value(QStringLiteral("id")).toString();
                        break;
                    }
                return !address.isEmpty();
            },
            kWaitMs);
        if (address.isEmpty())
            return false;
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString &text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.contains(QStringLiteral("id")))
                m_answers.insert(message.value(QStringLiteral("id")).toInt(), message);
        });
        m_socket.open(QUrl(address));
        return turnUntil([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, kWaitMs);
    }

    // The value of `expression` in the page (promises awaited); undefined when it failed.
    QJsonValue evaluate(const QString &expression, int timeoutMs = kWaitMs)
    {
        const QJsonObject result = call(QStringLiteral("Runtime.evaluate"),
                                        QJsonObject{{QStringLiteral("expression"), expression},
                                                    {QStringLiteral("returnByValue"), true},
                                                    {QStringLiteral("awaitPromise"), true}},
                                        timeoutMs);
        if (result.contains(QStringLiteral("exceptionDetails")))
            return QJsonValue(QJsonValue::Undefined);
        return result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
    }

    // Any method of the protocol (Input.dispatchKeyEvent, ...): its result, empty when it failed.
    QJsonObject call(const QString &method, const QJsonObject &params, int timeoutMs = kWaitMs)
    {
        const int id = ++m_lastId;
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(QJsonObject{
            {QStringLiteral("id"), id}, {QStringLiteral("method"), method}, {QStringLiteral("params"), params}})
                                                       .toJson(QJsonDocument::Compact)));
        turnUntil([this, id] { return m_answers.contains(id); }, timeoutMs);
        return m_answers.take(id).value(QStringLiteral("result")).toObject();
    }

    // The DevTools id of the page attached to.
    QString id() const { return m_id; }

private:
    quint16 m_port;
    QString m_id;
    QNetworkAccessManager m_network;
    QWebSocket m_socket;
    QHash<int, QJsonObject> m_answers;
    int m_lastId = 0;
};
