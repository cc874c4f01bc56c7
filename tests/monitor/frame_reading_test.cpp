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
    const auto code = static_cast<quint16>(static_cast<quint8>(key));
    return request::writeRegisters(1, 208, {static_cast<quint16>(code << 8 | code)});
}

// Frames the monitor's own table shows (a register read, a log block request, a wrong CRC) are
// checked in frame_monitor_test.
TEST(FrameReading, eachRequestAndEachReplyAgainstItsRequestReadsAsOneLine)
{
    const QByteArray registers = request::readHoldingRegisters(1, 0, 76, 8);
    const QByteArray block = appendCrc(QByteArray::fromHex("01600880000100") + QByteArray(256, '\x11'));
    const struct {
        QByteArray request, reply;
        const char *reading;
    } rows[] = {
        {request::readHoldingRegisters(1, 0, 208, 1), {}, "read holding register 208"},
        {request::confirmDownload(1), {}, "download stored"},
        {withKey('E'), {}, "write register 208: key 'E'"},
        {withKey('\x05'), {}, "write register 208: key code 05"},
        {request::writeRegisters(1, 300, {0, 0}), {}, "write registers 300-301, 4 bytes"},
        {framed("0145"), {}, "function 45"},
        {QByteArray::fromHex("0103004C"), {}, "function 03 request, 4 bytes too short"},
        {{}, framed("0103100880000008BF00F800100FF0001001F4"), "16 bytes of registers"},
        {registers, framed("010306000000000000"), "6 bytes for registers 76-83 (16 expected)"},
        {request::readLogBlock(1, 8, 0x80, 0, 128), block, "log block 08 80 00: 256 bytes"},
        {request::readLogBlock(1, 8, 0x81, 0, 100), block, "log block 08 80 00: 256 bytes, asked for 08 81 00, 200 asked"},
        {request::readLastDownloadPointer(1), framed("01610885F8"), "pointer 08 85 F8"},
        {request::confirmDownload(1), framed("0162"), "download stored: acknowledged"},
        {withKey('E'), framed("011000D00001"), "register 208 written"},
        {request::readDisplayBlock(1), appendCrc(QByteArray::fromHex("01630014") + QByteArray(20, ' ')), "display block 20 bytes"},
        {request::readDisplayBlock(1), QByteArray::fromHex("0103"), "2 bytes, too short for a reply"},
        {registers, framed("018302"), "exception 02: illegal data address"},
        {request::readLogBlock(1, 8, 0x80, 0, 128), framed("01E001"), "exception 01: illegal function"},
        {registers, framed("018309"), "exception 09"},
        {request::readLastDownloadPointer(1), framed("02610885F8"), "from slave 2: pointer 08 85 F8"},
        {request::readDisplayBlock(1), framed("01610885F8"), "function 61 reply to a function 63 request"},
    };
    for (const auto &row : rows) {
        const QString got = row.reply.isEmpty() ? readRequest(row.request) : readReply(row.reply, row.request);
        EXPECT_EQ(got, QLatin1String(row.reading)) << row.reading;
    }
}

} // namespace
