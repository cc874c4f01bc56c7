#include "virtual_event_pump.h"

#include <gtest/gtest.h>
#include <vector>

namespace ostrand {
namespace {

class VirtualEventPumpTest : public ::testing::Test {
protected:
    VirtualClock clock;
    VirtualEventPump pump{clock};
};

TEST_F(VirtualEventPumpTest, EachYieldAdvancesOneStepButNeverPastItsMaximumWait)
{
    pump.yield(10);
    EXPECT_EQ(clock.monotonicMs(), 1);
    pump.setStepMs(25);
    pump.yield(10);
    EXPECT_EQ(clock.monotonicMs(), 11);
    pump.yield(100);
    EXPECT_EQ(clock.monotonicMs(), 36);
    pump.yield(0); // a loop that never waits must still get somewhere
    EXPECT_EQ(clock.monotonicMs(), 37);
    EXPECT_EQ(pump.yieldCount(), 4);
}

TEST_F(VirtualEventPumpTest, ThirtySecondsOfWaitingTakesThirtyThousandYields)
{
    const std::int64_t deadline = clock.monotonicMs() + 30000;
    while (clock.monotonicMs() < deadline)
        pump.yield();
    EXPECT_EQ(pump.yieldCount(), 30000);
}

TEST_F(VirtualEventPumpTest, SleepPassesTimeWithoutRunningAnyHook)
{
    int runs = 0;
    pump.onEachYield([&] { ++runs; });
    pump.sleep(500);
    pump.sleep(20);
    EXPECT_EQ(clock.monotonicMs(), 520);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(pump.sleepCount(), 2);
    EXPECT_EQ(pump.sleptMs(), 520);
    EXPECT_EQ(pump.yieldCount(), 0);
}

TEST_F(VirtualEventPumpTest, RunsEachYieldHooksAfterTheStepUntilRemoved)
{
    std::vector<std::int64_t> seenAt;
    const auto id = pump.onEachYield([&] { seenAt.push_back(clock.monotonicMs()); });
    pump.yield();
    pump.yield();
    pump.removeHook(id);
    pump.yield();
    EXPECT_EQ(seenAt, (std::vector<std::int64_t>{1, 2}));
}

TEST_F(VirtualEventPumpTest, RunsATimedHookOnceOnTheFirstYieldAtOrAfterItsTime)
{
    std::vector<std::int64_t> seenAt;
    pump.setStepMs(4);
    pump.runAfter(10, [&] { seenAt.push_back(clock.monotonicMs()); });
    for (int i = 0; i < 10; ++i)
        pump.yield();
    EXPECT_EQ(seenAt, (std::vector<std::int64_t>{12}));
    EXPECT_EQ(pump.hookCount(), 0);
}

TEST_F(VirtualEventPumpTest, AHookThatWaitsIsNotReenteredByItsOwnNestedYields)
{
    int clicks = 0;
    int ticks = 0;
    pump.onEachYield([&] { ++ticks; });
    pump.onEachYield([&] {
        ++clicks;
        for (int i = 0; i < 3; ++i)
            pump.yield();
    });
    pump.yield();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(ticks, 4); // the outer yield and the three nested ones
    EXPECT_EQ(pump.deepestNesting(), 2);
}

TEST_F(VirtualEventPumpTest, AHookMayRemoveItselfOrOthersWhileHooksRun)
{
    int first = 0;
    int second = 0;
    VirtualEventPump::HookId secondId = 0;
    VirtualEventPump::HookId firstId = 0;
    firstId = pump.onEachYield([&] {
        ++first;
        pump.removeHook(firstId);
        pump.removeHook(secondId);
    });
    secondId = pump.onEachYield([&] { ++second; });
    pump.yield();
    pump.yield();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(pump.hookCount(), 0);
}

} // namespace
} // namespace ostrand
