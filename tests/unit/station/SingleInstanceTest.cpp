#include "station/SingleInstance.h"

#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

using zv::TSingleInstance;
using TClaim = zv::TSingleInstance::TClaim;
using namespace std::chrono_literals;

class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Folder.isValid()); }

    std::filesystem::path Path() const { return Folder.path().toStdString(); }

    // A later start asks from a thread of its own, as it would from its own process, while this
    // thread's event loop lets the first one answer.
    static bool AskFromElsewhere(TSingleInstance& later, std::chrono::milliseconds patience = 5s)
    {
        auto asked = std::async(std::launch::async, [&] { return later.AskRunningToShow(patience); });
        zv::test::PumpUntil([&] { return asked.wait_for(0s) == std::future_status::ready; });
        return asked.get();
    }

    int argc = 1;
    char name[5] = "test";
    char* argv[2] = { name, nullptr };
    QCoreApplication App { argc, argv };
    QTemporaryDir Folder;
};

TEST_F(SingleInstance, ALaterStartOnTheFolderAsksTheFirstToShowItsWindow)
{
    TSingleInstance first(Path());
    ASSERT_EQ(first.Claim(), TClaim::First);
    int shown = 0;
    QObject::connect(&first, &TSingleInstance::ShowRequested, [&] { ++shown; });

    TSingleInstance later(Path());
    EXPECT_EQ(later.Claim(), TClaim::Running);
    EXPECT_TRUE(AskFromElsewhere(later));
    EXPECT_TRUE(zv::test::PumpUntil([&] { return shown == 1; }));

    // Anything else on the socket is not a request.
    QLocalSocket stranger;
    stranger.connectToServer(first.SocketPath());
    ASSERT_TRUE(stranger.waitForConnected(1000));
    stranger.write(QByteArray(200, 'x'));
    stranger.flush();
    zv::test::PumpUntil([&] { return stranger.state() == QLocalSocket::UnconnectedState; });
    EXPECT_EQ(stranger.state(), QLocalSocket::UnconnectedState);
    EXPECT_EQ(shown, 1);

    // A start that gave up waiting is gone before its answer is written: that costs the program nothing.
    for (int i = 0; i < 20; ++i) {
        QLocalSocket impatient;
        impatient.connectToServer(first.SocketPath());
        ASSERT_TRUE(impatient.waitForConnected(1000));
        impatient.write("show\n");
        ASSERT_TRUE(impatient.waitForBytesWritten(1000));
        impatient.abort();
    }
    EXPECT_TRUE(zv::test::PumpUntil([&] { return shown == 21; }));

    // Other folders are other programs.
    QTemporaryDir other;
    TSingleInstance elsewhere(other.path().toStdString());
    EXPECT_EQ(elsewhere.Claim(), TClaim::First);
    EXPECT_NE(elsewhere.SocketPath(), first.SocketPath());
}

TEST_F(SingleInstance, TheFolderIsFreeAgainWhenItsProgramEndsHoweverItEnds)
{
    {
        TSingleInstance first(Path());
        ASSERT_EQ(first.Claim(), TClaim::First);
    }
    // A program killed outright leaves its socket file behind; the kernel has dropped its lock.
    TSingleInstance probe(Path());
    QFile stale(probe.SocketPath());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();

    TSingleInstance next(Path());
    ASSERT_EQ(next.Claim(), TClaim::First);
    int shown = 0;
    QObject::connect(&next, &TSingleInstance::ShowRequested, [&] { ++shown; });
    TSingleInstance later(Path());
    ASSERT_EQ(later.Claim(), TClaim::Running);
    EXPECT_TRUE(AskFromElsewhere(later));
    EXPECT_TRUE(zv::test::PumpUntil([&] { return shown == 1; }));
}

TEST_F(SingleInstance, AHeldFolderWhoseProgramDoesNotAnswerIsReportedNotJoined)
{
    // A program that holds the lock but never listens (hung while starting).
    const int held = open((Path() / "ZoVeva.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    TSingleInstance later(Path());
    EXPECT_EQ(later.Claim(), TClaim::Running);
    EXPECT_FALSE(later.AskRunningToShow(300ms));
    close(held);
    EXPECT_EQ(later.Claim(), TClaim::First);
}

TEST_F(SingleInstance, AProgramOnItsWayOutIsNoAnswerAndItsEndFreesTheFolder)
{
    // The first program left its event loop and waits for its encoder: the lock is held and the
    // socket still listens, but nobody reads from it.
    const int held = open((Path() / "ZoVeva.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    TSingleInstance later(Path());
    QLocalServer leaving;
    ASSERT_TRUE(leaving.listen(later.SocketPath()));
    EXPECT_EQ(later.Claim(), TClaim::Running);
    EXPECT_FALSE(later.AskRunningToShow(300ms));

    // It ends while a later start is still asking: the start stops asking and may take the folder.
    auto asked = std::async(std::launch::async, [&] { return later.AskRunningToShow(10min); });
    std::this_thread::sleep_for(200ms); // so that the end comes while it asks, not before
    close(held);
    leaving.close();
    ASSERT_EQ(asked.wait_for(2min), std::future_status::ready);
    EXPECT_FALSE(asked.get());
    EXPECT_EQ(later.Claim(), TClaim::First);
}

TEST_F(SingleInstance, AFolderWithoutRoomForTheLockRunsUnguarded)
{
    TSingleInstance nowhere(Path() / "missing");
    EXPECT_EQ(nowhere.Claim(), TClaim::Unguarded);
}

} // namespace
