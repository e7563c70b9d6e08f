#pragma once

// Long calls from a page travel as one message of the page's web channel rather than as parts of
// request addresses, which the engine passes slowly (tens of milliseconds per megabyte). The page
// stages the call under an id, then makes the synchronous call naming that id; the call
// takes it from here, waiting for it when the message is still on its way.

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <optional>

namespace tavrelo::htahost {

class BulkChannel final : public QObject {
    Q_OBJECT

public:
    explicit BulkChannel(QObject *parent = nullptr) : QObject(parent) {}

    // Called by the page through the web channel.
    Q_INVOKABLE void stage(const QString &id, const QJsonObject &call);

    // The call staged under `id`, removed from here; waits up to `timeoutMs` for it to arrive.
    // No value when it does not come.
    std::optional<QJsonObject> take(const QString &id, int timeoutMs);

Q_SIGNALS:
    void staged();

private:
    QHash<QString, QJsonObject> m_staged;
};

} // namespace tavrelo::htahost
