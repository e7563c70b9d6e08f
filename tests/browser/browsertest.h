#pragma once

// What the browser tests share.

#include <QString>
#include <QStringList>

#include <ostream>

// Generous: the machine may be busy with other tests.
inline constexpr int kDeadlineMs = 30000;

inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList &texts, std::ostream *out)
{
    *out << '[' << texts.join(QStringLiteral("|")).toStdString() << ']';
}
