#include "platform/network_port.h"
#include "platform/qt_event_pump.h"
#include "platform/system_clock.h"
#include "platform/telnet_codec.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"

#include <QElapsedTimer>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
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

// A device server speaking RFC 2217 on 127.0.0.1: it grants port control and,
// once the client has asked for all four settings, answers with `acknowledgements`.
class ScriptedServer {
public:
    explicit ScriptedServer(QByteArray acknowledgements) : acknowledgements_(std::move(acknowledgements))
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            QTcpSocket *client = server_.nextPendingConnection();
            QObject::connect(client, &QTcpSocket::readyRead, client, [this, client] {
                received_ += client->readAll();
                if (!granted_ && received_.contains(hex("fffb2c")))
                    granted_ = true, client->write(hex("fffd2c"));
                if (!answered_ && received_.contains(hex("fffa2c04")))
                    answered_ = true, client->write(acknowledgements_);
            });
        });
    }
    quint16 port() const { return server_.serverPort(); }

private:
    QTcpServer server_;
    QByteArray acknowledgements_, received_;
    bool granted_ = false, answered_ = false;
};

// Before, only the speed's acknowledgement was awaited and never compared: a server
// that kept 9600 gave 30 s of "no answer, check the baud rate" for every exchange.
TEST(NetworkPort, EachSettingTheServerAcknowledgesIsComparedWithTheOneAskedAndADifferenceEndsTheConnectAtOnce)
{
    const char *const tail = ": check what the device server's serial port allows";
    const auto acks = [](const char *speed, int size = 8, int parity = 1, int stop = 1) { // settings 101 to 104
        return QString::asprintf("fffa2c65 %s fff0 fffa2c66 %02x fff0 fffa2c67 %02x fff0 fffa2c68 %02x fff0", speed,
                                 size, parity, stop).toLatin1();
    };
    const struct {
        const char *what;
        QByteArray acknowledgements;
        const char *error; // after the address; empty: the port opens
    } rows[] = {
        {"all as asked", acks("00009600"), ""},
        {"in another order", "fffa2c68 01 fff0 fffa2c67 01 fff0 fffa2c66 08 fff0 fffa2c65 00009600 fff0", ""},
        {"a value of 0 tells nothing", acks("00009600", 0), ""},
        {"another speed", acks("00002580"), " set the serial speed to 9600 baud, not the 38400 asked"},
        {"another data size", acks("00009600", 7), " set the data size to 7 bits, not the 8 asked"},
        {"another parity", acks("00009600", 8, 3), " set the parity to even, not the none asked"},
        {"other stop bits", acks("00009600", 8, 1, 3), " set the stop bits to 1.5, not the 1 asked"},
        {"two at once", acks("00004b00", 8, 2),
         " set the serial speed to 19200 baud, not the 38400 asked; and the parity to odd, not the none asked"},
        {"a wrong speed alone, the rest never acknowledged", "fffa2c65 00002580 fff0",
         " set the serial speed to 9600 baud, not the 38400 asked"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedServer server(QByteArray::fromHex(row.acknowledgements)); // fromHex skips the spaces
        SystemClock clock;
        QtEventPump pump;
        NetworkPort port({NetworkEndpoint::Protocol::Rfc2217, "127.0.0.1", server.port(), {}}, 5000, clock, pump, nullptr);
        QElapsedTimer took;
        took.start();
        const bool opened = port.open(1, QStringLiteral("38400"));
        EXPECT_EQ(opened, *row.error == '\0');
        if (!opened) {
            EXPECT_EQ(port.errorString(), port.endpoint().address() + QLatin1String(row.error) + QLatin1String(tail));
        }
        EXPECT_LT(took.elapsed(), 2000) << "said at once, not at the connect's time limit";
    }
}

TEST(NetworkPort, ASettingNeverAcknowledgedEndsTheConnectAtItsTimeWithTheReason)
{
    ScriptedServer server(hex("fffa2c65 00009600 fff0 fffa2c66 08 fff0 fffa2c67 01 fff0"));
    SystemClock clock;
    QtEventPump pump;
    NetworkPort port({NetworkEndpoint::Protocol::Rfc2217, "127.0.0.1", server.port(), {}}, 500, clock, pump, nullptr);
    EXPECT_FALSE(port.open(1, QStringLiteral("38400")));
    EXPECT_EQ(port.errorString(), QStringLiteral("Cannot connect to %1: the device server did not confirm the serial "
                                                 "port's settings within 0.5 s")
                                      .arg(port.endpoint().address()));
}

} // namespace
} // namespace ostrand
