#include "platform/network_port.h"
#include "platform/telnet_codec.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"

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
        TelnetCodec::Decoded all;
        for (const char *read : c.reads) {
            const TelnetCodec::Decoded decoded = codec.decode(hex(read));
            all = {all.data + decoded.data, all.reply + decoded.reply};
        }
        EXPECT_EQ(shown(all.data), shown(hex(c.data))) << c.name;
        EXPECT_EQ(shown(all.reply), shown(hex(c.reply))) << c.name;
        EXPECT_EQ(codec.portControl(), c.control) << c.name;
        EXPECT_EQ(codec.acknowledgedBaud().value_or(0), c.baud) << c.name;
    }
}

// Nothing turns the event loop here, so the name is never resolved: only the deadline or Stop end the wait.
TEST(NetworkPort, AConnectEndsAtItsTimeOrAtStopAndAnAddressThatIsNoneIsRefusedAtOnce)
{
    const struct {
        const char *address;
        int timeoutMs, stopAtMs, endsAtMs;
        const char *error;
    } rows[] = {
        {"meter.invalid", 10000, -1, 10000, "Cannot connect to tcp://meter.invalid:4001: timed out: no answer within 10 s"},
        {"meter.invalid", 1500, -1, 1500, "Cannot connect to tcp://meter.invalid:4001: timed out: no answer within 1.5 s"},
        {"meter.invalid", 10000, 300, 300, "Cannot connect to tcp://meter.invalid:4001: stopped while connecting"},
        {"", 10000, -1, 0, "Cannot connect to tcp://:4001: not a device server address"},
    };
    for (const auto &row : rows) {
        VirtualClock clock;
        VirtualEventPump pump(clock);
        std::atomic<bool> stop{false};
        if (row.stopAtMs >= 0)
            pump.runAt(clock.monotonicMs() + row.stopAtMs, [&] { stop = true; });
        NetworkPort port({NetworkEndpoint::Protocol::RawTcp, row.address, 4001, "tcp://:4001"}, row.timeoutMs, clock, pump, &stop);
        const std::int64_t start = clock.monotonicMs();
        EXPECT_FALSE(port.open(1, QStringLiteral("9600"))) << row.error;
        EXPECT_NEAR(clock.monotonicMs() - start, row.endsAtMs, 10) << row.error;
        EXPECT_TRUE(port.errorString().startsWith(QLatin1String(row.error))) << port.errorString().toStdString();
    }
}

} // namespace
} // namespace ostrand
