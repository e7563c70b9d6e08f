#include "filewatch.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace tavrelo::htahost {

namespace {
// A file written in place may be written for a while; the page hears of it once the writes
// have paused for this long.
constexpr int kSettleMs = 300;
// A save is a write of a temporary file and a rename. Once another file has taken the name, it
// is whole: the page hears of it as soon as the rename's own events have come.
constexpr int kReplacedSettleMs = 15;

// The file the path names now: its device and inode, or nothing.
std::optional<std::pair<quint64, quint64>> fileAt(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return std::pair<quint64, quint64>(status.st_dev, status.st_ino);
}
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
    const auto changed = [this](const QString &) { m_settle.start(fileAt(m_path) == m_file ? kSettleMs : kReplacedSettleMs); };
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
    m_file = fileAt(m_path);
    const QFileInfo file(m_path);
    if (file.exists() && !m_watcher.files().contains(m_path))
        m_watcher.addPath(m_path);
    if (!m_watcher.directories().contains(file.absolutePath()))
        m_watcher.addPath(file.absolutePath());
}

} // namespace tavrelo::htahost
