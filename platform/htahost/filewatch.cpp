#include "filewatch.h"

#include <QFileInfo>

namespace tavrelo::htahost {

namespace {
// A save is a write of a temporary file and a rename: its events come within a few
// milliseconds, and the page hears of them once.
constexpr int kSettleMs = 300;
}

FileWatch::FileWatch(std::function<void(const QString &)> touched, QObject *parent)
    : QObject(parent), m_touched(std::move(touched))
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        rearm();
        if (!m_path.isEmpty())
            m_touched(m_path);
    });
    // A rename over the file ends the watch of the old one (inotify watches the file, not its
    // name), so the file is watched anew each time; its folder tells of a file made anew.
    const auto changed = [this](const QString &) { m_settle.start(); };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
}

void FileWatch::watch(const QString &path)
{
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    m_settle.stop();
    m_path = path;
    rearm();
}

void FileWatch::rearm()
{
    if (m_path.isEmpty())
        return;
    const QFileInfo file(m_path);
    if (file.exists() && !m_watcher.files().contains(m_path))
        m_watcher.addPath(m_path);
    if (!m_watcher.directories().contains(file.absolutePath()))
        m_watcher.addPath(file.absolutePath());
}

} // namespace tavrelo::htahost
