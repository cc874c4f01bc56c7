#include "virtual_clock.h"

#include <gtest/gtest.h>

namespace ostrand {
namespace {

TEST(VirtualClock, StartsAtNoonWithMonotonicTimeZeroUnlessToldOtherwise)
{
    VirtualClock noon;
    EXPECT_DOUBLE_EQ(noon.secondsSinceMidnight(), 12 * 3600.0);
    EXPECT_EQ(noon.monotonicMs(), 0);

    VirtualClock morning(8 * 3600.25);
    EXPECT_DOUBLE_EQ(morning.secondsSinceMidnight(), 8 * 3600.25);
}

TEST(VirtualClock, AdvancesBothClocksTogetherWithoutDriftOverManySmallSteps)
{
    VirtualClock clock(100.0);
    for (int i = 0; i < 30000; ++i)
        clock.advance(1);
    EXPECT_EQ(clock.monotonicMs(), 30000);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 130.0);
}

TEST(VirtualClock, WrapsTheTimeOfDayAtMidnightWhileMonotonicTimeKeepsCounting)
{
    VirtualClock clock(86399.5);
    clock.advance(400);
    EXPECT_NEAR(clock.secondsSinceMidnight(), 86399.9, 1e-9);
    clock.advance(100);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 0.0);
    clock.advance(1250);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 1.25);
    EXPECT_EQ(clock.monotonicMs(), 1750);
}

TEST(VirtualClock, CountsMicrosecondsReportsWholeMillisecondsAndNeverGoesBack)
{
    VirtualClock clock(0.0);
    clock.advanceMicros(1999);
    clock.advance(-5);
    EXPECT_EQ(clock.monotonicMs(), 1);
    EXPECT_EQ(clock.monotonicMicros(), 1999);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 0.001999);
}

TEST(VirtualClock, ASetTimeOfDayMovesOnlyTheTimeOfDay)
{
    VirtualClock clock(50.0);
    clock.advance(2000);
    clock.setTimeOfDay(86399.0);
    EXPECT_EQ(clock.monotonicMs(), 2000);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 86399.0);
    clock.advance(1500);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 0.5);
}

} // namespace
} // namespace ostrand
