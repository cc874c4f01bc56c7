#include "crc16.h"
#include "modbus_frame.h"
#include "request_framer.h"

#include <gtest/gtest.h>

using namespace ostrand::sim;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

TEST(ModbusCrc, GivesTheCheckValueClosesTheExampleRequestsAndRejectsAnyBitFlipped)
{
    EXPECT_EQ(crc16("123456789"), 0x4B37);
    QByteArray frame = hex("0103004C0008");
    appendCrc(frame);
    EXPECT_EQ(frame, hex("0103004C000885DB")) << "low byte first";
    for (const char *example : {"016018810000640BB5", "0161000000000003B1", "016281C9", "01634009",
                                "011000D0000102454546A3"})
        EXPECT_TRUE(hasValidCrc(hex(example))) << example;
    const QByteArray good = hex("0103004C000885DB");
    for (int i = 0; i < good.size() * 8; ++i) {
        QByteArray bad = good;
        bad[i / 8] = char(bad[i / 8] ^ (1 << (i % 8)));
        EXPECT_FALSE(hasValidCrc(bad)) << "bit " << i;
    }
}

TEST(RequestLength, FollowsEachFunctionsRequestLayout)
{
    EXPECT_EQ(requestLength(hex("0103")), 8);
    EXPECT_EQ(requestLength(hex("0160")), 9);
    EXPECT_EQ(requestLength(hex("0161")), 9);
    EXPECT_EQ(requestLength(hex("0162")), 4);
    EXPECT_EQ(requestLength(hex("0163")), 4);
    EXPECT_EQ(requestLength(hex("011000D00001")), 0) << "the byte count is not in yet";
    EXPECT_EQ(requestLength(hex("011000D0000102")), 11);
    EXPECT_EQ(requestLength(hex("01100000000306")), 15);
    EXPECT_EQ(requestLength(hex("0104")), -1);
}

TEST(RequestFramer, CutsBackToBackRequestsApartJoinsPiecesAndRecoversAfterNoiseOrABadCrc)
{
    RequestFramer framer;
    const auto frames = framer.feed(hex("0203004C000885E801634009016281"), 0);
    ASSERT_EQ(frames.size(), 2);
    EXPECT_EQ(frames[0], hex("0203004C000885E8")) << "another slave's request, taken whole";
    EXPECT_EQ(frames[1], hex("01634009"));
    const auto rest = framer.feed(hex("C9"), 5);
    ASSERT_EQ(rest.size(), 1);
    EXPECT_EQ(rest[0], hex("016281C9"));
    framer = RequestFramer();
    const auto clean =
        framer.feed(hex("FF032B2B2B") + hex("0103004C000885DC") + hex("01634009"), 0);
    ASSERT_EQ(clean.size(), 1);
    EXPECT_EQ(clean[0], hex("01634009"));
    EXPECT_GT(framer.discardedBytes(), 8);
}

TEST(RequestFramer, ForgetsAHalfFrameOnlyAfterTheLineWentQuiet)
{
    RequestFramer framer(50);
    EXPECT_TRUE(framer.feed(hex("0103004C"), 0).isEmpty());
    EXPECT_EQ(framer.feed(hex("000885DB"), 30).size(), 1) << "still within the silence";
    EXPECT_TRUE(framer.feed(hex("0103004C"), 100).isEmpty());
    EXPECT_TRUE(framer.feed(hex("000885DB"), 200).isEmpty()) << "too late to complete the old half";
    EXPECT_EQ(framer.feed(hex("01634009"), 210).size(), 1);
}
