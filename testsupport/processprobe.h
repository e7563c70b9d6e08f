#pragma once

// A helper program of the tests, run as a real process and driven by lines: commands go to its
// standard input, answers come back on its standard output, one per line.

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <csignal>

class ProcessProbe {
public:
    static constexpr int kAnswerMs = 20000;

    explicit ProcessProbe(const QString &program, const QStringList &arguments = {})
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, arguments);
        EXPECT_TRUE(m_process.waitForStarted()) << program.toStdString();
    }
    ~ProcessProbe()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGCONT); // a stopped probe must be able to die
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    ProcessProbe(const ProcessProbe &) = delete;
    ProcessProbe &operator=(const ProcessProbe &) = delete;

    void send(const QString &line)
    {
        m_process.write((line + u'\n').toUtf8());
        m_process.waitForBytesWritten();
    }
    // The next line, or "" when none comes in time.
    QString answer(int timeoutMs = kAnswerMs)
    {
        while (!m_process.canReadLine())
            if (!m_process.waitForReadyRead(timeoutMs))
                return {};
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    // Sends a command and returns its answer.
    QString ask(const QString &line)
    {
        send(line);
        return answer();
    }
    // True when a line comes within `timeoutMs`; for what must not come, a short watch.
    bool hasAnswer(int timeoutMs)
    {
        if (!m_process.canReadLine())
            m_process.waitForReadyRead(timeoutMs);
        return m_process.canReadLine();
    }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};
