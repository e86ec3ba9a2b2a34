#include "displays/MMTimer.h"
#include "tests/support/Wait.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

struct Calls {
    std::vector<TMMTimerHandle> handles;
    void* data = nullptr;
};

void Record(TMMTimerHandle handle, void* data)
{
    static_cast<Calls*>(data)->handles.push_back(handle);
}

TEST(DisplayTimer, ManualTicksCallDueSubscribersInListOrder)
{
    zv::DisplayTimerService timer;
    timer.SetManual(true);
    Calls calls;
    const TMMTimerHandle every = timer.Subscribe(10, false, Record, &calls); // raised to 25
    const TMMTimerHandle slow = timer.Subscribe(60, false, Record, &calls);
    ASSERT_NE(every, 0u);
    ASSERT_NE(slow, 0u);
    for (int i = 0; i < 6; ++i)
        timer.Tick();
    // The slow one is due at 75 ms and 150 ms (ticks 3 and 6), after the fast one of that tick.
    EXPECT_EQ(calls.handles,
        (std::vector<TMMTimerHandle> { every, every, every, slow, every, every, every, slow }));
    EXPECT_FALSE(timer.Running());
}

TEST(DisplayTimer, PauseCountsAndRestartsTheInterval)
{
    zv::DisplayTimerService timer;
    timer.SetManual(true);
    Calls calls;
    const TMMTimerHandle h = timer.Subscribe(50, true, Record, &calls);
    timer.Tick();
    timer.Tick();
    EXPECT_TRUE(calls.handles.empty()) << "subscribed paused";
    timer.Resume(h);
    timer.Tick();
    timer.Pause(h); // elapsed back to 0
    timer.Pause(h);
    timer.Resume(h);
    timer.Tick();
    EXPECT_TRUE(calls.handles.empty()) << "paused twice, resumed once";
    timer.Resume(h);
    timer.Resume(h); // below 0 is ignored
    timer.Tick();
    EXPECT_TRUE(calls.handles.empty()) << "the pause restarted the 50 ms";
    timer.Tick();
    EXPECT_EQ(calls.handles.size(), 1u);
    timer.Pause(h);
    timer.Resume(h);
    timer.Tick();
    timer.Tick();
    EXPECT_EQ(calls.handles.size(), 2u) << "due again 50 ms after the pause";

    timer.Unsubscribe(h);
    timer.Tick();
    timer.Tick();
    EXPECT_EQ(calls.handles.size(), 2u);
    EXPECT_EQ(timer.SubscriberCount(), 0);
    // Missing handles are ignored.
    timer.Pause(0);
    timer.Resume(12345);
    timer.Unsubscribe(h);
}

TEST(DisplayTimer, ThreadRunsFromFirstSubscriberToLast)
{
    zv::DisplayTimerService timer;
    std::atomic<int> ticks { 0 };
    auto count = [](TMMTimerHandle, void* data) { ++*static_cast<std::atomic<int>*>(data); };
    const TMMTimerHandle a = timer.Subscribe(25, false, count, &ticks);
    const TMMTimerHandle b = timer.Subscribe(25, true, count, &ticks);
    EXPECT_TRUE(timer.Running());
    EXPECT_TRUE(zv::test::WaitUntil([&] { return ticks.load() >= 3; })) << ticks.load();
    timer.Unsubscribe(a);
    EXPECT_TRUE(timer.Running());
    timer.Unsubscribe(b);
    EXPECT_FALSE(timer.Running());
    const int after = ticks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(60)); // two periods in which a tick would show
    EXPECT_EQ(ticks.load(), after) << "no callback after the last subscriber left";

    // Switching to manual stops a running thread; switching back starts it again.
    const TMMTimerHandle c = timer.Subscribe(25, false, count, &ticks);
    timer.SetManual(true);
    EXPECT_FALSE(timer.Running());
    timer.SetManual(false);
    EXPECT_TRUE(timer.Running());
    timer.Unsubscribe(c);
}

} // namespace
