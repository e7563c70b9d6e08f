#pragma once

// The attributes of an HTML Application's HTA:APPLICATION element, read from the page before it
// is shown, so that the window is made as the application asks.

#include <QByteArray>
#include <QHash>
#include <QString>

namespace tavrelo::htahost {

class HtaAttributes final {
public:
    static HtaAttributes parse(const QByteArray &page);

    bool present() const { return m_present; }
    // The attribute's value as written, or `fallback`; names without regard to case.
    QString value(const QString &name, const QString &fallback = QString()) const;
    // "no", "false" and "0" are no; anything else written is yes.
    bool isYes(const QString &name, bool fallback) const;
    // Every attribute as written (names in lower case).
    const QHash<QString, QString> &values() const { return m_values; }

private:
    bool m_present = false;
    QHash<QString, QString> m_values; // lower-case names
};

} // namespace tavrelo::htahost
