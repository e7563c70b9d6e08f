#pragma once

// Keeps a capture dialog ready while the application's main window is open (ipc/capturedialog.h
// has the protocol): a standby process (htahost --capture-standby) whose engine is up before the
// browser asks, so that the dialog paints at once. The keeper watches the standby that holds the
// user's socket, whoever started it; when there is none it starts one, and when the one it
// watched has ended (its dialog closed, or it died) it looks again. The standby ends when no
// keeper is left to watch it.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

#include <sys/types.h>

namespace tavrelo::htahost {

class StandbyKeeper final : public QObject {
public:
    explicit StandbyKeeper(QObject *parent);

    // Looks for the first time after a while: the main window's page starts first.
    void start();

private:
    void look();
    void received();
    void lost();
    void startStandby();

    enum class State { Idle, Connecting, Watching } m_state = State::Idle;
    QLocalSocket m_socket;
    QTimer m_next;
    QByteArray m_buffer;
    QDeadlineTimer m_starting{QDeadlineTimer::Forever}; // until when a standby started here may take to listen
    bool m_startedOne = false;
    pid_t m_watched = 0;               // the process of the standby watched last
    QDeadlineTimer m_gone;             // until when the next waits for that process to end
    int m_startsInARow = 0; // standbys started since one was last watched
};

} // namespace tavrelo::htahost
