// Collection locks between real processes: recursion, waiting, a holder that dies, exclusion
// under load; the names of locks; and a wait that keeps the waiting process's events turning.

#include "object/quillet.h"
#include "sync/namedlock.h"

#include "support/processprobe.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

// How long a process that must wait is watched for an answer it must not give.
constexpr int kMustWaitMs = 700;

// The lock probe: takes and gives up collection locks on command.
class Probe : public ProcessProbe {
public:
    Probe() : ProcessProbe(QStringLiteral(LOCK_PROBE)) {}
    bool hasAnswer() { return ProcessProbe::hasAnswer(kMustWaitMs); }
};

class CollectionLocks : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("TAVRELO_RUNTIME_DIR", m_runtime.path().toUtf8());
        m_path = m_files.filePath(QStringLiteral("My Notes.t-q"));
    }
    void TearDown() override { qunsetenv("TAVRELO_RUNTIME_DIR"); }

    QTemporaryDir m_runtime, m_files;
    QString m_path;
};

const QString kLocked = QStringLiteral("locked 0"), kUnlocked = QStringLiteral("unlocked 0");

}

TEST_F(CollectionLocks, ALockTakenTwiceIsFreeOnlyAfterTheSecondUnlock)
{
    Probe holder, waiter;
    holder.send(QStringLiteral("lock ") + m_path);
    ASSERT_EQ(holder.answer(), kLocked);
    holder.send(QStringLiteral("lock ") + m_path.toUpper().replace(QStringLiteral("MY NOTES"), QStringLiteral("my notes")));
    ASSERT_EQ(holder.answer(), kLocked) << "the same lock, whatever the case of A to Z";
    holder.send(QStringLiteral("unlock ") + m_path);
    ASSERT_EQ(holder.answer(), kUnlocked);

    waiter.send(QStringLiteral("lock ") + m_path);
    EXPECT_FALSE(waiter.hasAnswer()) << "the holder still holds it once";
    holder.send(QStringLiteral("unlock ") + m_path);
    ASSERT_EQ(holder.answer(), kUnlocked);
    EXPECT_EQ(waiter.answer(), kLocked);

    holder.send(QStringLiteral("unlock ") + m_path);
    EXPECT_EQ(holder.answer(), QStringLiteral("unlocked %1").arg(E_FAIL)) << "no hold left to give up";
}

TEST_F(CollectionLocks, AHolderThatDiesLetsTheWaiterIn)
{
    Probe holder, waiter;
    holder.send(QStringLiteral("lock ") + m_path);
    ASSERT_EQ(holder.answer(), kLocked);
    waiter.send(QStringLiteral("lock ") + m_path);
    EXPECT_FALSE(waiter.hasAnswer());
    holder.process().kill();
    holder.process().waitForFinished();
    EXPECT_EQ(waiter.answer(), kLocked);
}

TEST_F(CollectionLocks, NoIncrementIsLostUnderTheLock)
{
    const QString counter = m_files.filePath(QStringLiteral("counter"));
    {
        QFile file(counter);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("0");
    }
    constexpr int kProcesses = 4, kIncrements = 150;
    std::vector<std::unique_ptr<Probe>> probes;
    for (int i = 0; i < kProcesses; ++i)
        probes.push_back(std::make_unique<Probe>());
    for (auto &probe : probes)
        probe->send(QStringLiteral("add %1 %2 %3").arg(counter).arg(kIncrements).arg(m_path));
    for (auto &probe : probes)
        EXPECT_EQ(probe->answer(60000), QStringLiteral("added"));
    QFile file(counter);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toInt(), kProcesses * kIncrements);
}

// Two machines (each its own runtime folder, as two users or two hosts have) on one shared
// folder: only the lock the file system carries beside the collection keeps them apart. (Their
// changes through the store: the page test shared-collection.)
TEST_F(CollectionLocks, TwoMachinesOnASharedFolderExcludeEachOtherThroughTheLockFileBesideIt)
{
    QTemporaryDir otherMachine;
    const auto onMachine = [&](const QTemporaryDir &runtime) {
        qputenv("TAVRELO_RUNTIME_DIR", runtime.path().toUtf8());
        return std::make_unique<Probe>();
    };
    {
        QFile file(m_path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    // A holder on one machine that dies lets the other machine's waiter in.
    auto holder = onMachine(m_runtime), waiter = onMachine(otherMachine);
    holder->send(QStringLiteral("lock ") + m_path);
    ASSERT_EQ(holder->answer(), kLocked);
    waiter->send(QStringLiteral("lock ") + m_path);
    EXPECT_FALSE(waiter->hasAnswer());
    holder->process().kill();
    holder->process().waitForFinished();
    EXPECT_EQ(waiter->answer(), kLocked);
    EXPECT_TRUE(QFileInfo::exists(m_files.filePath(QStringLiteral(".My Notes.t-q.lock"))));

    // Where no lock file can be made, the collection is still read (the save fails there).
    waiter->send(QStringLiteral("lock /proc/clipvane-locks-test.t-q"));
    EXPECT_EQ(waiter->answer(), kLocked);
    qputenv("TAVRELO_RUNTIME_DIR", m_runtime.path().toUtf8());
}

TEST_F(CollectionLocks, AWaitKeepsTheWaitingProcessResponsive)
{
    static int argc = 1;
    static char name[] = "sync_tests";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);

    Probe holder;
    holder.send(QStringLiteral("lock ") + m_path);
    ASSERT_EQ(holder.answer(), kLocked);
    // Only an event handled during the wait can tell the holder to let go.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        if (++ticks == 3)
            holder.send(QStringLiteral("unlock ") + m_path);
    });
    timer.start(20);
    ComPtr<Quillet> helper = Quillet::create();
    EXPECT_EQ(helper->LockFile(m_path), S_OK);
    timer.stop();
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(tavrelo::sync::namedLockCount(Quillet::lockNameOf(m_path)), 1);

    // A second object of this process takes the same lock at once; the lock counts both holds.
    ComPtr<Quillet> other = Quillet::create();
    EXPECT_EQ(other->LockFile(m_path), S_OK);
    EXPECT_EQ(tavrelo::sync::namedLockCount(Quillet::lockNameOf(m_path)), 2);
    EXPECT_EQ(other->UnlockFile(m_path), S_OK);
    EXPECT_EQ(other->UnlockFile(m_files.filePath(QStringLiteral("never.t-q"))), E_FAIL);
    EXPECT_EQ(helper->UnlockFile(m_path), S_OK);
    EXPECT_EQ(helper->UnlockFile(m_path), E_FAIL) << "nothing held any more";
    EXPECT_EQ(helper->LockFile(QString()), E_INVALIDARG);
    EXPECT_EQ(helper->UnlockFile(QString()), E_INVALIDARG);
}

TEST(LockNames, PathsFoldToOneNameWithinTheLimit)
{
    EXPECT_EQ(Quillet::lockNameOf(QStringLiteral("C:\\Docs\\My.t-q")), QByteArray("Quillet$c__docs_my.t-q"));
    EXPECT_EQ(Quillet::lockNameOf(QStringLiteral("c:/docs/my.t-q")), QByteArray("Quillet$c__docs_my.t-q"));
    EXPECT_EQ(Quillet::lockNameOf(QStringLiteral("/home/ann/My.t-q")), Quillet::lockNameOf(QStringLiteral("/HOME/ann/my.t-q")));
    EXPECT_EQ(Quillet::lockNameOf(QStringLiteral("/home/ann/My.t-q")), QByteArray("Quillet$_home_ann_my.t-q"));
    EXPECT_NE(Quillet::lockNameOf(QStringLiteral("/home/ann/Ä.t-q")), Quillet::lockNameOf(QStringLiteral("/home/ann/ä.t-q")))
        << "only A to Z are folded";

    const QString path300 = QStringLiteral("/") + QString(293, u'D') + QStringLiteral("/x.t-q"); // 300 characters
    ASSERT_EQ(path300.size(), 300);
    const QByteArray name = Quillet::lockNameOf(path300);
    EXPECT_EQ(name.size(), 258);
    EXPECT_EQ(name, QByteArray("Quillet$") + QByteArray(244, 'd') + QByteArray("_x.t-q"));
    const QString path250 = QString(250, u'a');
    EXPECT_EQ(Quillet::lockNameOf(path250).size(), 258) << "8 + 250 + 1 stays under 260: kept whole";
    EXPECT_EQ(Quillet::lockNameOf(path250 + u'b'), QByteArray("Quillet$") + QByteArray(249, 'a') + 'b');

    // Every name has a lock file, also those too long for a file name.
    EXPECT_LE(QFileInfo(tavrelo::sync::namedLockPath(name)).fileName().toUtf8().size(), 255);
    EXPECT_NE(tavrelo::sync::namedLockPath(name), tavrelo::sync::namedLockPath(Quillet::lockNameOf(path250)));
}

namespace {

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "sync_tests";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

bool turnUntilLine(Probe &probe)
{
    QElapsedTimer clock;
    clock.start();
    while (!probe.process().canReadLine() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return probe.process().canReadLine();
}

}

// What a waiting process runs may wait in turn. The first wait, buried under the second, must not
// hold its lock meanwhile: the process would hold it while it waits for the other, an order no
// other process knows of. It takes the lock once the second wait is over.
TEST_F(CollectionLocks, AWaitBuriedUnderALaterWaitDoesNotHoldItsLock)
{
    ensureApplication();
    const QString second = m_files.filePath(QStringLiteral("Second.t-q"));
    Probe holder, taker;
    ASSERT_EQ(holder.ask(QStringLiteral("lock ") + m_path), kLocked);
    ASSERT_EQ(holder.ask(QStringLiteral("lock ") + second), kLocked);
    bool innerTaken = false, takerGotIt = false;
    QTimer::singleShot(20, [&] {
        QTimer::singleShot(20, [&] { // inside the second wait: the first lock comes free
            EXPECT_EQ(holder.ask(QStringLiteral("unlock ") + m_path), kUnlocked);
            taker.send(QStringLiteral("lock ") + m_path);
            takerGotIt = turnUntilLine(taker);
            EXPECT_EQ(taker.answer(), kLocked);
            EXPECT_EQ(taker.ask(QStringLiteral("unlock ") + m_path), kUnlocked);
            EXPECT_EQ(holder.ask(QStringLiteral("unlock ") + second), kUnlocked);
        });
        innerTaken = tavrelo::sync::acquireNamedLock(Quillet::lockNameOf(second));
    });
    ASSERT_TRUE(tavrelo::sync::acquireNamedLock(Quillet::lockNameOf(m_path)));
    EXPECT_TRUE(innerTaken);
    EXPECT_TRUE(takerGotIt) << "the buried wait let its lock go";
    EXPECT_TRUE(tavrelo::sync::releaseNamedLock(Quillet::lockNameOf(second)));
    EXPECT_TRUE(tavrelo::sync::releaseNamedLock(Quillet::lockNameOf(m_path)));
}

// A long wait tells its caller once, and cancelling ends it without the lock; what its thread
// gets afterwards goes back at once.
TEST_F(CollectionLocks, ACancelledWaitEndsWithoutTheLock)
{
    ensureApplication();
    const QByteArray name = Quillet::lockNameOf(m_path);
    Probe holder, taker;
    ASSERT_EQ(holder.ask(QStringLiteral("lock ") + m_path), kLocked);
    int slow = 0, ended = 0;
    tavrelo::sync::WaitHooks hooks;
    hooks.slowAfterMs = 50;
    hooks.slow = [&](const std::function<void()> &cancel) {
        ++slow;
        QTimer::singleShot(0, cancel);
    };
    hooks.ended = [&] { ++ended; };
    EXPECT_EQ(tavrelo::sync::acquireNamedLock(name, hooks), tavrelo::sync::LockResult::Cancelled);
    EXPECT_EQ(slow, 1);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(tavrelo::sync::namedLockCount(name), 0);
    ASSERT_EQ(holder.ask(QStringLiteral("unlock ") + m_path), kUnlocked);
    EXPECT_EQ(taker.ask(QStringLiteral("lock ") + m_path), kLocked) << "the given-up wait keeps nothing";
}
