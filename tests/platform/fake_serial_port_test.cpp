#include "fake_serial_port.h"

#include <gtest/gtest.h>

namespace ostrand {
namespace {

class FakeSerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port.open(2, "9600")); }
    VirtualClock clock;
    FakeSerialPort port{clock};
};

TEST_F(FakeSerialPortTest, RecordsEveryOpeningIncludingRefusedOnes)
{
    EXPECT_TRUE(port.open(3, "1200")); // already open: kept as it was
    port.close();
    EXPECT_FALSE(port.open(1, "fast"));
    EXPECT_FALSE(port.errorString().isEmpty());
    EXPECT_FALSE(port.open(0, "9600"));
    port.failOpenWith("Permission denied");
    EXPECT_FALSE(port.open(1, "9600"));
    EXPECT_EQ(port.errorString(), "Permission denied");
    port.allowOpen();
    EXPECT_TRUE(port.open(1, "19200"));

    ASSERT_EQ(port.opens().size(), 6u);
    EXPECT_EQ(port.opens()[1].portNumber, 3);
    EXPECT_EQ(port.opens()[1].baudText, "1200");
    EXPECT_FALSE(port.opens()[2].succeeded);
    EXPECT_TRUE(port.opens()[5].succeeded);
    EXPECT_EQ(port.openPortNumber(), 1);
    EXPECT_EQ(port.openBaudText(), "19200");
    EXPECT_EQ(port.closeCount(), 1);
}

TEST_F(FakeSerialPortTest, RecordsSentBytesWithTheirTimeAndLetsTheResponderAnswer)
{
    QByteArray heard;
    port.setResponder([&](const QByteArray &request, FakeSerialPort &p) {
        heard = request;
        p.deliver(request.left(2), 5);
    });
    EXPECT_TRUE(port.send("\x01\x03"));
    clock.advance(40);
    EXPECT_TRUE(port.send("\x05"));

    EXPECT_EQ(heard, QByteArray("\x05"));
    ASSERT_EQ(port.sends().size(), 2u);
    EXPECT_EQ(port.sends()[0].atMs, 0);
    EXPECT_EQ(port.sends()[1].atMs, 40);
    EXPECT_EQ(port.allBytesSent(), QByteArray("\x01\x03\x05"));
    EXPECT_EQ(port.read(10), QByteArray("\x01\x03")); // the first answer is in by now
}

TEST_F(FakeSerialPortTest, DeliversBytesAtTheLineRateAfterTheDelay)
{
    const int rate = FakeSerialPort::bytesPerSecondAt(1200); // 120 bytes/s, 8.33 ms each
    ASSERT_EQ(rate, 120);
    port.deliver("ABCDEFGH", 100, rate);
    EXPECT_EQ(port.lineIdleAtMs(), 167);

    clock.advance(108);
    EXPECT_EQ(port.receivedCount(), 0);
    clock.advance(1); // 109 ms: the first byte's stop bit is in
    EXPECT_EQ(port.receivedCount(), 1);
    clock.advance(8); // 117 ms
    EXPECT_EQ(port.receivedCount(), 2);
    clock.advance(49); // 166 ms: 7 of 8
    EXPECT_EQ(port.read(3), QByteArray("ABC"));
    EXPECT_EQ(port.receivedCount(), 4);
    EXPECT_EQ(port.bytesInFlight(), 1);
    clock.advance(1);
    EXPECT_EQ(port.read(100), QByteArray("DEFGH"));
}

TEST_F(FakeSerialPortTest, DeliversEverythingAtOnceWhenNoRateIsGiven)
{
    port.deliver("xyz", 30);
    clock.advance(29);
    EXPECT_EQ(port.receivedCount(), 0);
    clock.advance(1);
    EXPECT_EQ(port.receivedCount(), 3);
}

TEST_F(FakeSerialPortTest, ALaterDeliveryWaitsForTheLineInsteadOfOvertaking)
{
    port.deliver("first", 0, 100); // 10 ms a byte, done at 50 ms
    port.deliver("2", 0);
    clock.advance(49);
    EXPECT_EQ(port.read(100), QByteArray("firs"));
    clock.advance(1);
    EXPECT_EQ(port.read(100), QByteArray("t2"));
}

TEST_F(FakeSerialPortTest, DiscardingInputDropsOnlyWhatHasArrived)
{
    port.deliver("old", 0);
    port.deliver("late", 10);
    port.discardInput();
    EXPECT_EQ(port.receivedCount(), 0);
    EXPECT_EQ(port.discardInputCount(), 1);
    clock.advance(10);
    EXPECT_EQ(port.read(100), QByteArray("late"));
}

TEST_F(FakeSerialPortTest, BytesArrivingWhileThePortIsClosedAreLost)
{
    port.deliver("before", 0);
    port.deliver("during", 10);
    port.deliver("after", 30);
    port.close();
    EXPECT_EQ(port.receivedCount(), 0);
    clock.advance(20);
    ASSERT_TRUE(port.open(2, "9600"));
    clock.advance(10);
    EXPECT_EQ(port.read(100), QByteArray("after"));
}

TEST_F(FakeSerialPortTest, AnUnpluggedAdapterClosesThePortUntilItIsBackAndReopened)
{
    port.deliver("lost", 5);
    port.unplug();
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.send("x"));
    EXPECT_FALSE(port.errorString().isEmpty());
    EXPECT_FALSE(port.open(2, "9600"));
    clock.advance(10);

    port.plugBackIn();
    EXPECT_FALSE(port.isOpen());
    ASSERT_TRUE(port.open(2, "9600"));
    EXPECT_EQ(port.receivedCount(), 0);
    EXPECT_TRUE(port.send("x"));
    EXPECT_EQ(port.sends().size(), 1u);
    EXPECT_EQ(port.closeCount(), 0); // the code under test never closed it
}

} // namespace
} // namespace ostrand
