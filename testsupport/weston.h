#pragma once

// A Wayland desktop for a test: Debian's weston with its X11 backend, on the test's own X server,
// whose pointer and keyboard give the compositor a seat (without one Qt's dialogs crash), with a
// runtime folder of its own. The programs a test starts reach it through environment(); the
// test's input reaches it through the X server (xdotool), as a person's would.

#include "support/eventloop.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

class Weston {
public:
    // True when weston and Qt's Wayland platform are both installed.
    static bool available()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty() &&
               !QDir(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"))
                    .entryList({QStringLiteral("libqwayland*")})
                    .isEmpty();
    }

    // The output's size; the X window that shows it stands at the X screen's origin, so that
    // output and screen coordinates are the same.
    static constexpr int kWidth = 1024;
    static constexpr int kHeight = 600;

    Weston() = default;
    Weston(const Weston &) = delete;
    Weston &operator=(const Weston &) = delete;
    ~Weston()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished();
        }
    }

    // Starts the compositor and waits until its socket is there.
    bool start(int timeoutMs)
    {
        QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(QStringLiteral("weston"),
                        {QStringLiteral("--backend=x11-backend.so"), QStringLiteral("--socket=") + kSocket,
                         QStringLiteral("--idle-time=0"), QStringLiteral("--width=%1").arg(kWidth),
                         QStringLiteral("--height=%1").arg(kHeight), QStringLiteral("--log=") + m_runtime.filePath(QStringLiteral("weston.log"))});
        const bool up = turnUntil([this] { return QFileInfo::exists(m_runtime.filePath(kSocket)) ||
                                                  m_process.state() == QProcess::NotRunning; },
                                  timeoutMs) &&
                        m_process.state() == QProcess::Running;
        if (!up) { // its log says why
            QFile log(m_runtime.filePath(QStringLiteral("weston.log")));
            if (log.open(QIODevice::ReadOnly))
                std::fputs(log.readAll().constData(), stderr);
        }
        return up;
    }

    // What a program needs to show its windows here rather than on the X server.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), kSocket);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        return environment;
    }

    // A click of the left button at an output position.
    static bool click(int x, int y)
    {
        return xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y), QStringLiteral("click"), QStringLiteral("1")});
    }
    // Key presses (X key names) for the window with the keyboard focus; the pointer rests on the
    // output's top-left corner meanwhile, so that the X server sends the keys to the compositor.
    static bool press(const QStringList &keys)
    {
        return xdotool(QStringList{QStringLiteral("mousemove"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("key")} + keys);
    }

private:
    static bool xdotool(const QStringList &arguments)
    {
        return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
    }

    static constexpr QLatin1StringView kSocket{"wayland-test"};
    QTemporaryDir m_runtime;
    QProcess m_process;
};
