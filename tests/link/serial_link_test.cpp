#include "link_fixture.h"

using namespace ostrand;
using namespace ostrand::testing;

namespace {
using SerialLinkTest = LinkFixture;
}

TEST_F(SerialLinkTest, opensLazilyWithTheConfiguredPortAndKeepsItOpen)
{
    EXPECT_TRUE(port.opens().empty());
    serial.setSettings({3, QStringLiteral("9600"), 1});
    ASSERT_TRUE(serial.openPort());
    ASSERT_EQ(port.opens().size(), 1u);
    EXPECT_EQ(port.opens()[0].portNumber, 3);
    EXPECT_EQ(port.opens()[0].baudText, "9600");

    serial.setSettings({3, QStringLiteral("1200"), 1});
    EXPECT_TRUE(serial.openPort());
    EXPECT_EQ(port.opens().size(), 1u) << "an open port keeps its settings";
    EXPECT_DOUBLE_EQ(serial.wireSeconds(96), 0.1);
}

TEST_F(SerialLinkTest, aPortThatCannotOpenStaysClosedAndAVanishedOneReopensLater)
{
    port.failOpenWith(QStringLiteral("No such device"));
    EXPECT_FALSE(serial.openPort());
    EXPECT_FALSE(port.isOpen());
    port.allowOpen();
    ASSERT_TRUE(serial.openPort());
    port.unplug();
    EXPECT_FALSE(serial.openPort());
    port.plugBackIn();
    EXPECT_TRUE(serial.openPort());
}

TEST_F(SerialLinkTest, readBytesTakesExactlyWhatWasAskedAndLeavesTheRest)
{
    ASSERT_TRUE(serial.openPort());
    port.deliver(hex("0a0b0c"));
    EXPECT_EQ(serial.readBytes(1), hex("0a"));
    EXPECT_EQ(serial.receivedCount(), 2);

    const std::int64_t start = clock.monotonicMs();
    EXPECT_FALSE(serial.readBytes(4));
    EXPECT_NEAR(secondsSince(start), 2.0, 0.02);
    EXPECT_EQ(serial.receivedCount(), 2);
}

TEST_F(SerialLinkTest, theByteTimeOutCountsFromAStartRoundedToWholeSeconds)
{
    ASSERT_TRUE(serial.openPort());
    clock.setTimeOfDay(12 * 3600 + 0.6); // rounds up: the wait lasts 2.4 s
    std::int64_t start = clock.monotonicMs();
    EXPECT_FALSE(serial.readBytes(1));
    EXPECT_NEAR(secondsSince(start), 2.4, 0.02);

    clock.setTimeOfDay(12 * 3600 + 0.4); // rounds down: 1.6 s
    start = clock.monotonicMs();
    EXPECT_FALSE(serial.readBytes(1));
    EXPECT_NEAR(secondsSince(start), 1.6, 0.02);
}

TEST_F(SerialLinkTest, aByteWaitAcrossMidnightStillEndsAfterTwoSeconds)
{
    ASSERT_TRUE(serial.openPort());
    clock.setTimeOfDay(86399.2);
    const std::int64_t start = clock.monotonicMs();
    EXPECT_FALSE(serial.readBytes(1));
    EXPECT_NEAR(secondsSince(start), 1.8, 0.02);
}

TEST_F(SerialLinkTest, bytesArrivingDuringTheWaitEndItAsSoonAsEnoughAreThere)
{
    ASSERT_TRUE(serial.openPort());
    port.deliver(hex("01020304"), 300, 10);
    const std::int64_t start = clock.monotonicMs();
    EXPECT_EQ(serial.readBytes(2), hex("0102"));
    EXPECT_NEAR(secondsSince(start), 0.5, 0.01);
}
