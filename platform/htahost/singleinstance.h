#pragma once

// One window per application name: the first host of an application that asks for a single
// instance listens on a local socket named after it; a later start finds it, asks it to come to
// the front, and opens no window of its own.

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>

namespace tavrelo::htahost {

class SingleInstance final : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString &applicationName);

    // True when another host of the application runs and was asked to come to the front.
    bool handOver();
    // Listens for later starts; `activate` runs for each.
    void listen(std::function<void()> activate);

private:
    QString m_socketPath;
    QLocalServer m_server;
};

} // namespace tavrelo::htahost
