#pragma once

// The probe's side of a test probe (support/processprobe.h): commands come on standard input, one
// a line, while the event loop turns; answers go to standard output, one a line. The application
// quits when the input ends.

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QString>
#include <QTextStream>

#include <cstdio>
#include <functional>

#include <unistd.h>

class ProbeCommands {
public:
    explicit ProbeCommands(std::function<void(const QString &line)> handle)
        : m_input(STDIN_FILENO, QSocketNotifier::Read)
    {
        QObject::connect(&m_input, &QSocketNotifier::activated, &m_input, [handle = std::move(handle)] {
            char buffer[4096];
            if (!std::fgets(buffer, sizeof buffer, stdin)) {
                QCoreApplication::quit();
                return;
            }
            handle(QString::fromUtf8(buffer).trimmed());
        });
    }

    static void say(const QString &line)
    {
        static QTextStream out(stdout);
        out << line << Qt::endl;
    }

private:
    QSocketNotifier m_input;
};
