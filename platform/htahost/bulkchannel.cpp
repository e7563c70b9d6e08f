#include "bulkchannel.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

namespace tavrelo::htahost {

Q_LOGGING_CATEGORY(lcBulk, "tavrelo.htahost.bulk")

namespace {
constexpr qsizetype kMaxStaged = 16; // calls a page may stage at once; it makes one at a time
}

void BulkChannel::stage(const QString &id, const QJsonObject &call)
{
    if (id.isEmpty() || m_staged.contains(id) || m_staged.size() >= kMaxStaged) {
        qCWarning(lcBulk) << "Refused a staged call from the page.";
        return;
    }
    m_staged.insert(id, call);
    Q_EMIT staged();
}

std::optional<QJsonObject> BulkChannel::take(const QString &id, int timeoutMs)
{
    if (!m_staged.contains(id)) {
        QEventLoop loop;
        const auto arrived = connect(this, &BulkChannel::staged, &loop, [&] {
            if (m_staged.contains(id))
                loop.quit();
        });
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        disconnect(arrived);
        if (!m_staged.contains(id))
            return std::nullopt;
    }
    return m_staged.take(id);
}

} // namespace tavrelo::htahost
