#pragma once

// The capture dialog kept ready by the running viewer: a standby host process, whose engine is
// already up, opens the dialog (ipc/capturedialog.h has the protocol). Nothing is opened when no
// standby listens, the connection is refused, the hello does not come within kHelloMs, or the
// standby refuses the request; the native host then starts the dialog as a process of its own.

#include "capture.h"

#include <QByteArray>
#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

#include <functional>

namespace tavrelo::nativehost {

class StandbyDialog final : public QObject {
public:
    StandbyDialog(const QString &page, const QJsonObject &menuArguments, QObject *parent);

    // Exactly one of the two is called, from the event loop, after start().
    std::function<void()> onUnavailable;                 // nothing was opened
    std::function<void(const DialogOutcome &)> onEnded; // the dialog has closed, or its host ended

    void start();

private:
    void received();
    void dropped();
    void unavailable(const QString &why);
    void ended(const DialogOutcome &outcome);

    enum class State { Asking, Requested, Opened, Done } m_state = State::Asking;
    QByteArray m_request;
    QLocalSocket m_socket;
    QTimer m_helloTimer;
    QByteArray m_buffer;
};

} // namespace tavrelo::nativehost
