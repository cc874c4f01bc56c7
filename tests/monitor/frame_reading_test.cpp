#include "link/crc16.h"
#include "link/modbus_requests.h"
#include "monitor/frame_reading.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

using namespace ostrand;

namespace {

QByteArray framed(const char *hex)
{
    return appendCrc(QByteArray::fromHex(hex));
}

QByteArray withKey(char key)
{
    std::array<qint16, 36> high{}, low{};
    high[0] = low[0] = key;
    return request::writeRegisters(1, 208, 1, 2, high, low);
}

TEST(FrameReading, everyRequestTheProgramSendsIsNamed)
{
    EXPECT_EQ(readRequest(request::readHoldingRegisters(1, 0, 76, 8)),
              "read holding registers 76-83");
    EXPECT_EQ(readRequest(request::readHoldingRegisters(1, 0, 208, 1)),
              "read holding register 208");
    EXPECT_EQ(readRequest(request::readLogBlock(1, 0x08, 0x80, 0x00, 128)),
              "log block 08 80 00, 128 words");
    EXPECT_EQ(readRequest(request::readLastDownloadPointer(1)), "last-download pointer");
    EXPECT_EQ(readRequest(request::confirmDownload(1)), "download stored");
    EXPECT_EQ(readRequest(withKey('E')), "write register 208: key 'E'");
    EXPECT_EQ(readRequest(request::readDisplayBlock(1)), "display block");
}

TEST(FrameReading, unusualRequestsAreReadWithoutGuessing)
{
    std::array<qint16, 36> high{}, low{};
    EXPECT_EQ(readRequest(request::writeRegisters(1, 300, 2, 4, high, low)),
              "write registers 300-301, 4 bytes");
    EXPECT_EQ(readRequest(withKey('\x05')), "write register 208: key code 05");
    EXPECT_EQ(readRequest(framed("0145")), "function 45");
    EXPECT_EQ(readRequest(QByteArray::fromHex("0103004C")),
              "function 03 request, 4 bytes too short");
}

TEST(FrameReading, aHoldingRegisterReplyIsReadAgainstItsRequest)
{
    const QByteArray request = request::readHoldingRegisters(1, 0, 76, 8);
    const QByteArray reply = framed("0103100880000008BF00F800100FF0001001F4");
    EXPECT_EQ(readReply(reply, request), "16 bytes: registers 76-83");
    EXPECT_EQ(readReply(reply), "16 bytes of registers")
        << "without its request the range is unknown";
    EXPECT_EQ(readReply(framed("010306000000000000"), request),
              "6 bytes for registers 76-83 (16 expected)");
}

TEST(FrameReading, theOtherRepliesSayWhatTheyCarry)
{
    const QByteArray block = QByteArray::fromHex("01600880000100") + QByteArray(256, '\x11');
    EXPECT_EQ(readReply(appendCrc(block), request::readLogBlock(1, 8, 0x80, 0, 128)),
              "log block 08 80 00: 256 bytes");
    EXPECT_EQ(readReply(appendCrc(block), request::readLogBlock(1, 8, 0x81, 0, 100)),
              "log block 08 80 00: 256 bytes, asked for 08 81 00, 200 asked");
    EXPECT_EQ(readReply(framed("01610885F8"), request::readLastDownloadPointer(1)),
              "pointer 08 85 F8");
    EXPECT_EQ(readReply(framed("0162"), request::confirmDownload(1)),
              "download stored: acknowledged");
    EXPECT_EQ(readReply(framed("011000D00001"), withKey('E')), "register 208 written");
    const QByteArray display = QByteArray::fromHex("01630014") + QByteArray(20, '\x20');
    EXPECT_EQ(readReply(appendCrc(display), request::readDisplayBlock(1)),
              "display block 20 bytes");
}

TEST(FrameReading, aReplyWhoseCrcFailsIsSaidToBeWrongWhateverItHolds)
{
    QByteArray reply = framed("01610885F8");
    reply[reply.size() - 1] = static_cast<char>(reply.back() ^ 0x01);
    EXPECT_FALSE(frameCrcMatches(reply));
    EXPECT_EQ(readReply(reply, request::readLastDownloadPointer(1)), "reply CRC wrong");
    EXPECT_EQ(readReply(QByteArray::fromHex("0103"), request::readDisplayBlock(1)),
              "2 bytes, too short for a reply");
}

TEST(FrameReading, exceptionsGiveTheirCodeAndItsMeaning)
{
    const QByteArray request = request::readHoldingRegisters(1, 0, 76, 8);
    EXPECT_EQ(readReply(framed("018302"), request), "exception 02: illegal data address");
    EXPECT_EQ(readReply(framed("01E001"), request::readLogBlock(1, 8, 0x80, 0, 128)),
              "exception 01: illegal function");
    EXPECT_EQ(readReply(framed("018309"), request), "exception 09");
}

TEST(FrameReading, aReplyFromAnotherSlaveOrFunctionIsCalledOut)
{
    EXPECT_EQ(readReply(framed("02610885F8"), request::readLastDownloadPointer(1)),
              "from slave 2: pointer 08 85 F8");
    EXPECT_EQ(readReply(framed("01610885F8"), request::readDisplayBlock(1)),
              "function 61 reply to a function 63 request");
}

} // namespace
