#pragma once

// Watches one file for a page: every change the system reports of it, also its replacement by a
// rename (as sync programs and atomic saves do) or its removal and new creation, is told once,
// after the changes have settled for a moment: a file written in place for longer than one that
// another file replaced.

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>
#include <utility>

namespace tavrelo::htahost {

class FileWatch final : public QObject {
    Q_OBJECT

public:
    explicit FileWatch(std::function<void(const QString &)> touched, QObject *parent = nullptr);

    // Watches `path` instead of the file watched so far; an empty path watches nothing.
    void watch(const QString &path);

private:
    void rearm();

    std::function<void(const QString &)> m_touched;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QString m_path;
    std::optional<std::pair<quint64, quint64>> m_file; // the file the path named when it was last told
};

} // namespace tavrelo::htahost
