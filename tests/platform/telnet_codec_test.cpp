#include "platform/telnet_codec.h"

#include <QList>
#include <gtest/gtest.h>

namespace ostrand {
namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }
std::string shown(const QByteArray &bytes) { return bytes.toHex(' ').toStdString(); }

TEST(TelnetCodec, TheClientAsksForBinaryNoGoAheadsAndPortControlAndSetsTheSpeedAnd8N1)
{
    TelnetCodec codec;
    EXPECT_EQ(shown(codec.opening()), shown(hex("fffb00 fffd00 fffb03 fffd03 fffb2c")));
    EXPECT_EQ(shown(TelnetCodec::portSettings(38400)),
              shown(hex("fffa2c01 00009600 fff0 fffa2c02 08 fff0 fffa2c03 01 fff0 fffa2c04 01 fff0")));
    // A speed with a 0xFF byte in it must not end the subnegotiation early.
    EXPECT_EQ(shown(TelnetCodec::portSettings(0x1FF).left(11)), shown(hex("fffa2c01 000001ffff fff0")));
    EXPECT_EQ(shown(TelnetCodec::encode(hex("ff 01 ff ff"))), shown(hex("ffff 01 ffff ffff")));
}

TEST(TelnetCodec, CommandsLeaveTheLinesBytesWholeAndAreAnsweredOnceEvenSplitAcrossReads)
{
    using PortControl = TelnetCodec::PortControl;
    const struct {
        const char *name;
        QList<const char *> reads;
        const char *data, *reply;
        PortControl control;
        std::uint32_t baud; // acknowledged; 0 for none
    } cases[] = {
        {"a doubled 0xFF is one data byte", {"01 ffff 02"}, "01ff02", "", PortControl::Pending, 0},
        {"and so when split", {"01 ff", "ff 02"}, "01ff02", "", PortControl::Pending, 0},
        {"port control granted, split", {"01 ff", "fd", "2c 02"}, "0102", "", PortControl::Accepted, 0},
        {"port control refused", {"fffe2c"}, "", "fffc2c", PortControl::Refused, 0},
        {"the server's echo is declined", {"fffb01 03 fffd01"}, "03", "fffe01 fffc01", PortControl::Pending, 0},
        {"options already asked for need no answer", {"fffb00 fffd00 fffb03"}, "", "", PortControl::Pending, 0},
        {"the speed acknowledged, split inside", {"05 fffa2c65 0000", "9600 ff", "f0 06"}, "0506", "",
         PortControl::Pending, 38400},
        {"a doubled 0xFF inside a subnegotiation", {"fffa2c65 000001ffff fff0"}, "", "", PortControl::Pending, 0x1FF},
        {"other commands carry nothing", {"01 fff1 02 fff9"}, "0102", "", PortControl::Pending, 0},
    };
    for (const auto &c : cases) {
        TelnetCodec codec;
        codec.opening();
        QByteArray data;
        QByteArray reply;
        for (const char *read : c.reads) {
            const TelnetCodec::Decoded decoded = codec.decode(hex(read));
            data += decoded.data;
            reply += decoded.reply;
        }
        EXPECT_EQ(shown(data), shown(hex(c.data))) << c.name;
        EXPECT_EQ(shown(reply), shown(hex(c.reply))) << c.name;
        EXPECT_EQ(codec.portControl(), c.control) << c.name;
        EXPECT_EQ(codec.acknowledgedBaud().value_or(0), c.baud) << c.name;
    }
}

} // namespace
} // namespace ostrand
