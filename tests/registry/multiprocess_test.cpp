// Several processes change one hive at the same time: no value is lost and no reader ever sees
// a damaged hive.

#include "registry/winreg.h"
#include "support/scratchregistry.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace tavrelo::registry;

namespace {

DWORD valueCount(HKEY root, const char *path)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKey(key, nullptr, nullptr, &values), ERROR_SUCCESS);
    RegCloseKey(key);
    return values;
}

} // namespace

TEST(ConcurrentWriters, neverLoseEachOthersValues)
{
    ScratchRegistry registry;
    constexpr int kWriters = 4;
    constexpr int kValuesEach = 40;

    std::vector<std::unique_ptr<QProcess>> writers;
    for (int w = 0; w < kWriters; ++w) {
        auto process = std::make_unique<QProcess>();
        process->start(QStringLiteral(HIVE_WRITER), {QStringLiteral("writer%1").arg(w), QString::number(kValuesEach)});
        writers.push_back(std::move(process));
    }
    // Read while they write: every read must parse (a torn file would be moved aside and reported).
    testing::internal::CaptureStderr();
    const auto anyRunning = [&] {
        bool running = false;
        for (auto &process : writers) {
            if (process->state() != QProcess::NotRunning)
                process->waitForFinished(1); // lets QProcess notice the end
            running = running || process->state() != QProcess::NotRunning;
        }
        return running;
    };
    while (anyRunning())
        valueCount(HKEY_CURRENT_USER, "Software\\Stress");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    for (auto &process : writers) {
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
    }

    EXPECT_EQ(valueCount(HKEY_CURRENT_USER, "Software\\Stress"), static_cast<DWORD>(kWriters * kValuesEach));
    EXPECT_EQ(valueCount(HKEY_LOCAL_MACHINE, "Software\\Classes\\Stress"), static_cast<DWORD>(kWriters * kValuesEach));
    EXPECT_TRUE(QDir(registry.path()).entryList({QStringLiteral("*.corrupt-*"), QStringLiteral("*.reg.??????")}).isEmpty());
}

// A user who may not write the machine's hive registers classes for himself. Root may write
// anything, so as root the writer runs as "nobody".
TEST(ClassesRoot, fallsBackToTheUserWhenTheMachineHiveIsReadOnly)
{
    ScratchRegistry registry;
    // Everybody may enter and create files, but nobody may replace another user's files.
    ASSERT_EQ(::chmod(registry.path().toUtf8().constData(), 01777), 0);
    ScratchRegistry::writeFile(registry.machineHive(), "Tavrelo Registry Hive 1\n[Software\\Classes\\Old]\n");
    ScratchRegistry::writeFile(registry.machineHive() + QStringLiteral(".lock"), "");
    ASSERT_EQ(::chmod((registry.machineHive() + QStringLiteral(".lock")).toUtf8().constData(), 0444), 0);
    ASSERT_EQ(::chmod(registry.machineHive().toUtf8().constData(), 0444), 0);

    QString program = QStringLiteral(HIVE_WRITER);
    QStringList arguments{QStringLiteral("mine"), QStringLiteral("1")};
    if (::geteuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "running as root without setpriv";
        arguments = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                QStringLiteral("--clear-groups"), program} +
                    arguments;
        program = QStringLiteral("/usr/bin/setpriv");
    }
    const ProcessResult result = runProgram(program, arguments);
    if (result.exitCode == 126 || result.err.find("Permission denied") != std::string::npos)
        GTEST_SKIP() << "the build folder is not open to another user: " << result.err;
    ASSERT_EQ(result.exitCode, 0) << result.err;

    EXPECT_EQ(valueCount(HKEY_CURRENT_USER, "Software\\Classes\\Stress"), 1u);
    EXPECT_EQ(valueCount(HKEY_CLASSES_ROOT, "Stress"), 1u);
    EXPECT_EQ(ScratchRegistry::readFile(registry.machineHive()), "Tavrelo Registry Hive 1\n[Software\\Classes\\Old]\n");
}
