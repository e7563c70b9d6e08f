#pragma once

// What the launcher's tests share: waiting for a condition, and texts in failure messages.

#include "support/eventloop.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>

// Generous: the machine may be busy with other tests.
inline constexpr int kDeadlineMs = 30000;

// Runs the events of this thread until `condition` holds; false when the deadline passed first.
inline bool waitUntil(const std::function<bool()> &condition, int timeoutMs = kDeadlineMs)
{
    return turnUntil(condition, timeoutMs);
}

// Texts as text when a check fails.
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList &texts, std::ostream *out)
{
    *out << '[' << texts.join(QStringLiteral("|")).toStdString() << ']';
}
