#pragma once

// Watches one file for a page: every change the system reports of it, also its replacement by a
// rename (as sync programs and atomic saves do) or its removal and new creation, is told once,
// after the changes have settled for a moment.

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>

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
};

} // namespace tavrelo::htahost
