#pragma once

// Starting the viewer: a process of its own, in a session of its own, with the launcher's
// environment and current folder. The launcher never waits for it; it only notices, while it
// still runs itself, when the viewer has ended (a viewer that ended can no longer close the
// splash window).

#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace tavrelo::launcher {

// The viewer's address for the helper library at `libraryPath`: "res://" + the path + "/" + the
// viewer page; empty when the path is longer than kMaxLibraryPathBytes.
QString viewerAddress(const QString &libraryPath);

class ViewerProcess final {
public:
    // Starts `commandLine` (the program, then its arguments; a program without "/" is looked for
    // in PATH). On failure the result is not started and error() holds the errno.
    static ViewerProcess start(const QStringList &commandLine);

    bool started() const { return m_pid > 0; }
    int error() const { return m_error; }
    pid_t pid() const { return m_pid; }

    // True once the process has ended; collects its exit status so that it leaves nothing behind.
    bool hasEnded();

private:
    pid_t m_pid = -1;
    int m_error = 0;
    bool m_ended = false;
};

}
