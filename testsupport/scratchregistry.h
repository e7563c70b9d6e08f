#pragma once

// A private, empty registry for one test: both hives live in a fresh temporary folder that
// TAVRELO_REGISTRY_DIR points at while the object lives.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

class ScratchRegistry final {
public:
    ScratchRegistry()
    {
        EXPECT_TRUE(m_dir.isValid());
        qputenv("TAVRELO_REGISTRY_DIR", m_dir.path().toUtf8());
    }
    ~ScratchRegistry() { qunsetenv("TAVRELO_REGISTRY_DIR"); }
    ScratchRegistry(const ScratchRegistry &) = delete;
    ScratchRegistry &operator=(const ScratchRegistry &) = delete;

    QString path() const { return m_dir.path(); }
    QString userHive() const { return m_dir.filePath(QStringLiteral("user.reg")); }
    QString machineHive() const { return m_dir.filePath(QStringLiteral("machine.reg")); }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private:
    QTemporaryDir m_dir;
};

// Runs a program to its end; the registry folder is passed on through the environment.
struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline ProcessResult runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    ProcessResult result;
    if (!process.waitForFinished(60000)) {
        ADD_FAILURE() << "did not finish: " << program.toStdString();
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}
