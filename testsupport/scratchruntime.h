#pragma once

// A private runtime folder (lock and endpoint files) for as long as the object lives.

#include <QTemporaryDir>

#include <gtest/gtest.h>

class ScratchRuntime {
public:
    ScratchRuntime()
    {
        EXPECT_TRUE(m_folder.isValid());
        qputenv("TAVRELO_RUNTIME_DIR", m_folder.path().toUtf8());
    }
    ~ScratchRuntime() { qunsetenv("TAVRELO_RUNTIME_DIR"); }
    ScratchRuntime(const ScratchRuntime &) = delete;
    ScratchRuntime &operator=(const ScratchRuntime &) = delete;

    QString path() const { return m_folder.path(); }

private:
    QTemporaryDir m_folder;
};
