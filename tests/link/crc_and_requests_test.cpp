#include "link/crc16.h"
#include "link/modbus_requests.h"

#include <gtest/gtest.h>

using namespace ostrand;

TEST(Crc16, matchesThePublishedCheckValueAndAKnownFrame)
{
    EXPECT_EQ(crc16(QByteArray("123456789")), 0x4B37);
    EXPECT_EQ(crc16(QByteArray::fromHex("0103004C0008")), 0xDB85);
    EXPECT_EQ(crc16(QByteArray()), 0xFFFF);
}

TEST(ModbusRequests, everyRequestGoesOutByteForByte)
{
    std::array<qint16, 36> high{};
    std::array<qint16, 36> low{};
    high[0] = low[0] = 'E';
    const struct {
        const char *what;
        QByteArray bytes;
        const char *expected;
    } cases[] = {
        {"holding registers 76-83", request::readHoldingRegisters(1, 0, 76, 8), "0103004c000885db"},
        {"log block 18 81 00, 100 words", request::readLogBlock(1, 0x18, 0x81, 0x00, 100), "01601881000064" "0bb5"},
        {"last-download pointer", request::readLastDownloadPointer(1), "01610000000000" "03b1"},
        {"download stored", request::confirmDownload(1), "016281c9"},
        {"key Enter to register 208", request::writeRegisters(1, 208, 1, 2, high, low), "011000d000010245" "4546a3"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.bytes.toHex(), QByteArray(c.expected)) << c.what;

    const QByteArray display = request::readDisplayBlock(7);
    EXPECT_EQ(display.size(), 4);
    EXPECT_EQ(display.left(2).toHex(), "0763");
    EXPECT_EQ(crc16(display.left(2)), (uchar(display[3]) << 8) | uchar(display[2]));
}

TEST(ModbusRequests, expectedReplyLengthsFollowTheCountsAsTheMeterSendsThem)
{
    EXPECT_EQ(reply::holdingRegistersLength(8), 21);
    EXPECT_EQ(reply::holdingRegistersLength(256 + 8), 21) << "only the count's low byte enters";
    EXPECT_EQ(reply::logBlockLength(128), 265);
    EXPECT_EQ(reply::writeRegistersLength(1, 2), 8);
}
