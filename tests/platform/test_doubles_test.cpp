#include "fake_file_dialogs.h"
#include "fake_serial_port.h"
#include "virtual_event_pump.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <vector>

namespace ostrand {
namespace {

TEST(VirtualClock, StartsAtNoonAndAdvancesInWholeMicrosecondsWithoutDriftOrGoingBack)
{
    VirtualClock clock;
    for (int i = 0; i < 30000; ++i)
        clock.advance(1);
    clock.advanceMicros(999);
    clock.advance(-5);
    EXPECT_EQ(clock.monotonicMs(), 30000);
    EXPECT_EQ(clock.monotonicMicros(), 30000999);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 12 * 3600.0 + 30.000999);
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
    clock.setTimeOfDay(86399.0); // the user resets the system clock
    clock.advance(1500);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 0.5);
    EXPECT_EQ(clock.monotonicMs(), 3250);
}

class VirtualEventPumpTest : public ::testing::Test {
protected:
    VirtualClock clock;
    VirtualEventPump pump{clock};
};

TEST_F(VirtualEventPumpTest, EachYieldAdvancesOneStepButNeverPastItsMaximumWaitAndSleepRunsNoHook)
{
    int runs = 0;
    pump.onEachYield([&] { ++runs; });
    pump.yield(10);
    EXPECT_EQ(clock.monotonicMs(), 1);
    pump.setStepMs(25);
    pump.yield(10);
    EXPECT_EQ(clock.monotonicMs(), 11);
    pump.yield(0); // a loop that never waits must still get somewhere
    EXPECT_EQ(clock.monotonicMs(), 12);
    pump.sleep(500);
    EXPECT_EQ(clock.monotonicMs(), 512);
    EXPECT_EQ(runs, 3);
}

TEST_F(VirtualEventPumpTest, RunsHooksWhenDueWithoutReenteringAWaitingOneAndLetsThemBeRemoved)
{
    std::vector<std::int64_t> each, timed;
    int clicks = 0;
    VirtualEventPump::HookId clickId = 0, eachId = 0;
    pump.setStepMs(4);
    clickId = pump.onEachYield([&] {
        ++clicks;
        pump.yield(); // a click handler that waits must not be clicked again meanwhile
        pump.removeHook(clickId);
        pump.removeHook(eachId); // not run yet in the outer yield, and now never
    });
    eachId = pump.onEachYield([&] { each.push_back(clock.monotonicMs()); });
    pump.runAfter(10, [&] { timed.push_back(clock.monotonicMs()); });
    for (int i = 0; i < 5; ++i)
        pump.yield();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(each, (std::vector<std::int64_t>{8}));
    EXPECT_EQ(timed, (std::vector<std::int64_t>{12}));
    EXPECT_EQ(pump.hookCount(), 0);
}

class FakeSerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.open(2, "9600")); }
    VirtualClock clock;
    FakeSerialPort port{clock};
};

TEST_F(FakeSerialPortTest, DeliversBytesAtTheLineRateAfterTheDelayAndNeverOvertakes)
{
    port.deliver("ABCDEFGH", 100, FakeSerialPort::bytesPerSecondAt(1200)); // 8.33 ms a byte
    port.deliver("!", 0); // all at once, but only once the line is free
    EXPECT_EQ(port.lineIdleAtMs(), 167);
    const std::pair<int, int> arrivedBy[] = {{108, 0}, {109, 1}, {117, 2}, {166, 7}, {167, 9}};
    for (const auto &[atMs, count] : arrivedBy) {
        clock.advance(atMs - clock.monotonicMs());
        EXPECT_EQ(port.receivedCount(), count) << atMs;
    }
    EXPECT_EQ(port.read(3), QByteArray("ABC"));
    EXPECT_EQ(port.read(100), QByteArray("DEFGH!"));
}

TEST_F(FakeSerialPortTest, DiscardingDropsOnlyWhatHasArrivedAndBytesArrivingWhileClosedAreLost)
{
    port.deliver("old", 0);
    port.deliver("late", 10);
    port.discardInput();
    EXPECT_EQ(port.receivedCount(), 0);
    clock.advance(10);
    EXPECT_EQ(port.read(100), QByteArray("late"));

    port.deliver("during", 10);
    port.deliver("after", 30);
    port.close();
    clock.advance(20);
    ASSERT_TRUE(port.open(2, "9600"));
    clock.advance(10);
    EXPECT_EQ(port.read(100), QByteArray("after"));
}

TEST_F(FakeSerialPortTest, RefusesOpeningsTheRealPortWouldAndAnUnpluggedAdapterUntilItIsBack)
{
    port.close();
    EXPECT_FALSE(port.open(1, "fast"));
    EXPECT_FALSE(port.open(0, "9600"));
    port.failOpenWith("Permission denied");
    EXPECT_FALSE(port.open(1, "9600"));
    EXPECT_EQ(port.errorString(), "Permission denied");
    port.allowOpen();
    ASSERT_TRUE(port.open(1, "19200"));

    port.deliver("lost", 5);
    port.unplug();
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.send("x"));
    EXPECT_FALSE(port.open(1, "19200"));
    clock.advance(10);
    port.plugBackIn();
    EXPECT_FALSE(port.isOpen());
    ASSERT_TRUE(port.open(1, "19200"));
    EXPECT_EQ(port.receivedCount(), 0);
    EXPECT_TRUE(port.send("x"));
    EXPECT_EQ(port.opens().size(), 7u);
    EXPECT_EQ(port.closeCount(), 1); // the unplugging was no close by the code under test
}

TEST(FakeFileDialogs, AnswersInTheOrderQueuedRemembersEachQuestionAndFailsOnAnUnexpectedOne)
{
    FakeFileDialogs dialogs;
    dialogs.answerNext(QString("/tmp/a.csv"));
    dialogs.answerNext(std::nullopt);
    EXPECT_EQ(dialogs.chooseSaveFile("Save data", "*.csv", "a.csv"), QString("/tmp/a.csv"));
    EXPECT_EQ(dialogs.chooseOpenFile("Open database", "*.pdb", "x.pdb"), std::nullopt);
    ASSERT_EQ(dialogs.questions().size(), 2u);
    EXPECT_EQ(dialogs.questions()[1].kind, FakeFileDialogs::Kind::Open);

    std::optional<QString> answer = QString("sentinel");
    EXPECT_NONFATAL_FAILURE(answer = dialogs.chooseSaveFile("Surprise", "*", ""),
                            "unexpected file dialog");
    EXPECT_EQ(answer, std::nullopt);
}

} // namespace
} // namespace ostrand
