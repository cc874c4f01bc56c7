#include "crc16.h"
#include "reference_reader.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace ostrand::sim;
using namespace ostrand::sim::testing;

namespace {

const QByteArray kPointerRequest = QByteArray::fromHex("0103004C000885DB");

QByteArray ask(Meter &meter, const QByteArray &frame)
{
    return meter.respond(frame, testNow()).bytes;
}

int u8(const QByteArray &bytes, int at)
{
    return static_cast<unsigned char>(bytes.at(at));
}

QByteArray addressBytes(const LogAddress &a)
{
    return QByteArray(1, char(a.bank)) + char(a.page) + char(a.offset);
}

int totalAt(const QByteArray &block, int at)
{
    return u8(block, at) * 65536 + u8(block, at + 1) * 4096 + u8(block, at + 2) * 256 +
           u8(block, at + 3);
}

} // namespace

TEST(RegisterRead, AnswersThePointerRequestWithPointersAndCountsPackedTighterOnThePortable)
{
    BuiltMeter built = meterFrom({"--records", "500", "--channels", "3"});
    const CircularLog &log = built.meter->log();
    const QByteArray reply = ask(*built.meter, kPointerRequest);
    ASSERT_EQ(reply.size(), 21);
    EXPECT_EQ(reply.left(3), QByteArray::fromHex("010310"));
    EXPECT_TRUE(hasValidCrc(reply));
    const QByteArray data = reply.mid(3, 16);
    EXPECT_EQ(data.mid(0, 4), '\0' + addressBytes(log.startPointer()));
    EXPECT_EQ(data.mid(4, 4), '\0' + addressBytes(log.endPointer()));
    EXPECT_EQ(decodeMeterFloat(data.mid(8, 4)), 1500.0) << "records used";
    EXPECT_EQ(decodeMeterFloat(data.mid(12, 4)), double(CircularLog::kCapacity - 1500)) << "free";
    EXPECT_EQ(logOffsetOf(log.endPointer()) - logOffsetOf(log.startPointer()), 1504 * 8)
        << "whole pages";
    const QByteArray p =
        ask(*meterFrom({"--records", "500", "--channels", "3", "--portable"}).meter,
            kPointerRequest).mid(3, 16);
    EXPECT_EQ(p.left(3) + p.mid(4, 3), data.mid(1, 3) + data.mid(5, 3)) << "the portable packs one byte earlier";
    EXPECT_EQ(p.mid(7, 8), data.mid(8, 8));
}

TEST(Requests, OutsideWhatTheMeterHasGetExceptionReplies)
{
    BuiltMeter built = meterFrom({});
    const auto exception = [](int function, int code) {
        return request(1, function | 0x80, QByteArray(1, char(code)));
    };
    EXPECT_EQ(ask(*built.meter, request(1, 3, QByteArray::fromHex("0040000A"))), exception(3, 2));
    EXPECT_EQ(ask(*built.meter, request(1, 3, QByteArray::fromHex("00180000"))), exception(3, 3));
    EXPECT_EQ(ask(*built.meter, request(1, 0x10, QByteArray::fromHex("004C0001020000"))),
              exception(0x10, 2));
    EXPECT_EQ(ask(*built.meter, request(1, 0x60, QByteArray::fromHex("0880000000"))),
              exception(0x60, 3));
    EXPECT_EQ(ask(*built.meter, request(1, 0x60, QByteArray::fromHex("0880000081"))),
              exception(0x60, 3));
}

TEST(BlockRead, ReturnsChannelSetupBlocksLabelledInBytes65To96AndNotUsedBeyondTheChannels)
{
    BuiltMeter built = meterFrom({"--labels", "Inflow,Inflow Tot"});
    const QByteArray reply = ask(*built.meter, QByteArray::fromHex("016018810000640BB5"));
    ASSERT_EQ(reply.size(), 2 * 100 + 9);
    EXPECT_TRUE(hasValidCrc(reply));
    EXPECT_EQ(reply.mid(2, 5), QByteArray::fromHex("18810000C8")) << "address, then 200 bytes";
    for (int k = 1; k <= 8; ++k) {
        const QByteArray at = QByteArray(1, char(0x18)) + char(0x80 + k) + '\0' + '\0' + char(100);
        const QByteArray label = ask(*built.meter, request(1, 0x60, at)).mid(7 + 64, 32);
        EXPECT_EQ(label, QByteArray(k == 1 ? "Inflow" : k == 2 ? "Inflow Tot" : "Not Used")
                             .leftJustified(32, char(0xFF)))
            << k;
    }
}

TEST(BlockRead, ReadsTheLogAcrossABankEdgeAsTheLogRunsOn)
{
    BuiltMeter built =
        meterFrom({"--records", "3000", "--channels", "1", "--start", "2026-01-01 00:15"});
    const LogAddress at{8, 0xBF, 0x80}; // half a page before bank 9
    const QByteArray reply =
        ask(*built.meter, request(1, 0x60, addressBytes(at) + QByteArray::fromHex("0080")));
    ASSERT_EQ(reply.size(), 256 + 9);
    EXPECT_EQ(reply.mid(7, 256), built.meter->log().read(logOffsetOf(at), 256));
    EXPECT_TRUE(decodeRecord(reply.mid(7 + 128, 8))) << "bank 9 page 0x80 follows bank 8 page 0xBF";
}

TEST(DownloadPointer, ConfirmationMovesTheLastDownloadPointerToTheEnd)
{
    BuiltMeter built = meterFrom({"--records", "90", "--channels", "2"});
    const QByteArray pointerRequest = QByteArray::fromHex("0161000000000003B1");
    const QByteArray before = ask(*built.meter, pointerRequest);
    ASSERT_EQ(before.size(), 7);
    EXPECT_EQ(before.mid(2, 3), addressBytes(advanceInLog(built.meter->log().startPointer(), -8)));

    const Reply confirm = built.meter->respond(QByteArray::fromHex("016281C9"), testNow());
    EXPECT_TRUE(confirm.confirmed);
    EXPECT_FALSE(confirm.bytes.isEmpty());
    const QByteArray after = ask(*built.meter, pointerRequest);
    EXPECT_TRUE(hasValidCrc(after));
    EXPECT_EQ(after.mid(2, 3), addressBytes(built.meter->log().endPointer()));
}

TEST(DisplayBlock, AnswersTheExampleRequestWith26BytesOfTheLiveProcess)
{
    BuiltMeter built = meterFrom({"--alarms", "8"});
    const QByteArray reply = ask(*built.meter, QByteArray::fromHex("01634009"));
    ASSERT_EQ(reply.size(), 26);
    EXPECT_TRUE(hasValidCrc(reply));
    const QByteArray block = reply.mid(4, 20);
    const double flow = decodeMeterFloat(block.mid(0, 4));
    EXPECT_GT(flow, 0.5);
    EXPECT_LT(flow, 3.5);
    EXPECT_NEAR(decodeMeterFloat(block.mid(4, 4)) * 0.785398, flow, 1e-4)
        << "velocity in a full 12-inch pipe";
    EXPECT_EQ(totalAt(block, 8), 152340) << "forward total at start-up, second byte weighing 4096";
    EXPECT_TRUE(int(decodeMeterFloat(block.mid(16, 4))) & 8) << "the lost-signal bit asked for";
}

TEST(Addressing, AnswersOnlyItsOwnAddressAndObeysABroadcastKeySilently)
{
    BuiltMeter built = meterFrom({"--slave", "7"});
    EXPECT_TRUE(ask(*built.meter, QByteArray::fromHex("01634009")).isEmpty());
    EXPECT_EQ(u8(ask(*built.meter, request(7, 0x63)), 0), 7);
    EXPECT_TRUE(
        ask(*built.meter, request(0, 0x10, QByteArray::fromHex("00D00001024D4D"))).isEmpty());
    EXPECT_EQ(built.meter->panel().page(), FrontPanel::Page::Menu);
}
