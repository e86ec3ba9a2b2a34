#include "platform/Clock.h"

#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using zv::VirtualClock;

TEST(VirtualClock, FiresPeriodicallyAndKeepsARunningPeriod)
{
    VirtualClock clock;
    auto timer = clock.CreateTimer();
    std::vector<std::int64_t> fired;
    timer->SetOnTimer([&] { fired.push_back(clock.NowMs()); });
    timer->SetInterval(100);
    timer->SetEnabled(true);
    clock.Advance(250);
    timer->SetEnabled(true); // already on: the period started at 200 goes on
    clock.Advance(100);
    EXPECT_EQ(fired, (std::vector<std::int64_t> { 100, 200, 300 }));

    timer->SetEnabled(false);
    clock.Advance(1000);
    timer->SetEnabled(true); // a new period from now (1350)
    clock.Advance(100);
    EXPECT_EQ(fired.back(), 1450);

    timer->SetInterval(30); // restarts the period
    clock.Advance(30);
    EXPECT_EQ(fired.back(), 1480);
}

TEST(VirtualClock, HandlersMayChangeTimersAndSimultaneousOnesFireInOrder)
{
    VirtualClock clock;
    auto oneShot = clock.CreateTimer();
    auto other = clock.CreateTimer();
    std::string trace;
    oneShot->SetInterval(100);
    other->SetInterval(100);
    oneShot->SetOnTimer([&] {
        trace += 'a';
        oneShot->SetEnabled(false);
        other->SetInterval(50); // restarted from 100: next at 150
    });
    other->SetOnTimer([&] { trace += 'b'; });
    oneShot->SetEnabled(true);
    other->SetEnabled(true);
    clock.Advance(100);
    EXPECT_EQ(trace, "a");
    clock.Advance(100);
    EXPECT_EQ(trace, "abb");
    EXPECT_EQ(clock.NowMs(), 200);
}

TEST(QtClock, FiresOnTheEventLoop)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = { name, nullptr };
    QCoreApplication app(argc, argv);
    zv::QtClock clock;
    auto timer = clock.CreateTimer();
    int fired = 0;
    timer->SetInterval(1);
    timer->SetOnTimer([&] {
        if (++fired == 3) {
            timer->SetEnabled(false);
        }
    });
    timer->SetEnabled(true);
    EXPECT_TRUE(timer->Enabled());
    zv::test::PumpUntil([&] { return !timer->Enabled(); });
    EXPECT_EQ(fired, 3);
}
