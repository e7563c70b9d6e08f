#include "viewerprocess.h"

#include "launcherstrings.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace tavrelo::launcher {

QString viewerAddress(const QString &libraryPath)
{
    if (QFile::encodeName(libraryPath).size() > kMaxLibraryPathBytes)
        return {};
    return QStringLiteral("res://") + libraryPath + u'/' + QLatin1StringView(kViewerPage);
}

ViewerProcess ViewerProcess::start(const QStringList &commandLine)
{
    ViewerProcess process;
    if (commandLine.isEmpty() || commandLine.first().isEmpty()) {
        process.m_error = ENOENT;
        return process;
    }
    std::vector<QByteArray> encoded;
    encoded.reserve(std::size_t(commandLine.size()));
    for (const QString &word : commandLine)
        encoded.push_back(QFile::encodeName(word));
    std::vector<char *> argv;
    for (QByteArray &word : encoded)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // The viewer starts clean: its own session (so that it outlives the launcher's terminal and
    // process group), no blocked signals and every signal at its default action.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv.front(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        process.m_error = error;
    else
        process.m_pid = pid;
    return process;
}

bool ViewerProcess::hasEnded()
{
    if (!started() || m_ended)
        return true;
    int status = 0;
    pid_t result;
    do {
        result = waitpid(m_pid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    // Gone (reaped, or not our child any more) counts as ended as well.
    m_ended = result != 0;
    return m_ended;
}

}
