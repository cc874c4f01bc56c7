#include "platform/network_listener.h"
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

using Outcome = NetworkListener::NextCaller::Outcome;

// Real loopback sockets on this thread's event loop, as a line worker runs them.
struct Loopback {
    SystemClock clock;
    QtEventPump pump;

    bool pumpUntil(const std::function<bool()> &done, int withinMs = 3000)
    {
        return waitPumped(clock, pump, nullptr, done, clock.monotonicMs() + withinMs) == PumpedWait::Done;
    }
    // A router calling: connected once the system has taken the connection.
    std::unique_ptr<QTcpSocket> call(quint16 port)
    {
        auto caller = std::make_unique<QTcpSocket>();
        caller->connectToHost(QStringLiteral("127.0.0.1"), port);
        pumpUntil([&] { return caller->state() == QAbstractSocket::ConnectedState; });
        return caller;
    }
    // Reads from a port or a caller until `count` bytes came or the time is up.
    template <class From> QByteArray readFrom(From &from, int count)
    {
        QByteArray got;
        pumpUntil([&] {
            if constexpr (std::is_base_of_v<SerialPort, From>)
                got += from.read(count - static_cast<int>(got.size()));
            else
                got += from.readAll();
            return got.size() >= count;
        });
        return got;
    }
};

// A listener on a free loopback port.
struct Listening : Loopback {
    explicit Listening(int maxWaiting = NetworkListener::kDefaultMaxWaiting) : listener(clock, pump, nullptr, maxWaiting)
    {
        EXPECT_TRUE(listener.listen(QStringLiteral("127.0.0.1"), 0)) << listener.errorString().toStdString();
    }
    NetworkListener listener;
};

TEST(NetworkListener, AnAcceptedCallerIsOpenAtOnceNamedByBothAddressesAndCarriesBytesBothWaysUnchanged)
{
    QByteArray large(3 * SocketPort::kMaxBufferedBytes + 17, '\0');
    for (int i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7);
    const struct {
        const char *what;
        QByteArray fromCaller, toCaller;
    } rows[] = {
        {"0xFF bytes are data, never Telnet", hex("ff fb 2c ff"), hex("ff ff fd 2c")},
        // Past the buffer's bound the caller is held back, and nothing is lost.
        {"more than the port buffers, read as it comes", large, hex("06")},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        Listening net;
        NetworkListener &listener = net.listener;
        ASSERT_NE(listener.port(), 0);
        auto caller = net.call(listener.port());
        caller->write(row.fromCaller);

        NetworkListener::NextCaller next = listener.nextCaller(3000);
        ASSERT_EQ(next.outcome, Outcome::Accepted);
        AcceptedPort &port = *next.port;
        EXPECT_TRUE(port.isOpen());
        EXPECT_TRUE(port.open(1, QStringLiteral("9600")));
        EXPECT_EQ(port.deviceName(), QStringLiteral("tcp caller 127.0.0.1:%1 on 127.0.0.1:%2")
                                         .arg(caller->localPort())
                                         .arg(listener.port()));
        EXPECT_EQ(port.peerAddress(), QStringLiteral("127.0.0.1:%1").arg(caller->localPort()));

        // All sent before anything is read: what is not buffered here waits in the system.
        net.pumpUntil([&] { return caller->bytesToWrite() == 0; });
        net.pumpUntil([] { return false; }, 50);
        EXPECT_LE(port.receivedCount(), SocketPort::kMaxBufferedBytes);
        EXPECT_EQ(net.readFrom(port, static_cast<int>(row.fromCaller.size())), row.fromCaller);
        EXPECT_TRUE(port.send(row.toCaller));
        EXPECT_EQ(shown(net.readFrom(*caller, static_cast<int>(row.toCaller.size()))), shown(row.toCaller));
        EXPECT_FALSE(port.lineLost());
    }
}

TEST(NetworkListener, ACallerThatNeverReadsEndsSendingWithTheReasonRatherThanGrowingTheBuffer)
{
    Listening net;
    auto caller = net.call(net.listener.port());
    caller->setReadBufferSize(1); // the kernel's buffers fill, then ours
    auto next = net.listener.nextCaller(3000);
    ASSERT_EQ(next.outcome, Outcome::Accepted);
    const QByteArray chunk(16 * 1024, 'x');
    int sent = 0;
    while (sent < 4096 && next.port->send(chunk)) {
        ++sent;
        net.pump.yield(0);
    }
    EXPECT_LT(sent, 4096) << "64 MB went into a caller that reads nothing";
    EXPECT_TRUE(next.port->errorString().contains(QLatin1String("takes nothing of what is sent")))
        << next.port->errorString().toStdString();
}

TEST(NetworkListener, ACallerThatHangsUpLeavesWhatItSentAndALostLineWithTheReason)
{
    const struct {
        const char *what;
        QByteArray sentBeforeClose;
        bool takenBeforeClose;
    } rows[] = {
        {"hangs up having sent nothing", {}, true},
        {"hangs up right after the end of a reply", hex("01 03 02 0001 79 84"), true},
        {"hangs up before anyone took its line", hex("6e 6f 72 74 68 2d 31"), false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        Listening net;
        auto caller = net.call(net.listener.port());
        std::unique_ptr<AcceptedPort> port;
        const auto hangUp = [&] {
            caller->write(row.sentBeforeClose);
            caller->disconnectFromHost();
            net.pumpUntil([&] { return caller->state() == QAbstractSocket::UnconnectedState; });
        };
        if (!row.takenBeforeClose)
            hangUp();
        auto next = net.listener.nextCaller(3000);
        ASSERT_EQ(next.outcome, Outcome::Accepted);
        port = std::move(next.port);
        if (row.takenBeforeClose)
            hangUp();

        EXPECT_TRUE(net.pumpUntil([&] { return port->lineLost(); }));
        EXPECT_EQ(shown(port->read(1000)), shown(row.sentBeforeClose));
        EXPECT_FALSE(port->isOpen());
        EXPECT_EQ(port->lostLineReason(), QStringLiteral("closed by the far end"));
        const QString lost = QStringLiteral("lost the line to %1: closed by the far end").arg(port->deviceName());
        EXPECT_EQ(port->errorString(), lost);
        EXPECT_FALSE(port->send(hex("01")));
        EXPECT_FALSE(port->open(1, QStringLiteral("9600"))) << "only the caller can call again";
        EXPECT_EQ(port->errorString(), lost);
    }
}

// The second may be the same router again, its first connection not yet seen to be stale.
TEST(NetworkListener, CallersAreTakenInOrderEachOnItsOwnLineAndThoseBeyondTheWaitingLimitClosedOnArrival)
{
    Listening net(2);
    NetworkListener &listener = net.listener;
    std::vector<std::unique_ptr<QTcpSocket>> callers;
    for (int i = 0; i < 5; ++i) {
        callers.push_back(net.call(listener.port()));
        callers.back()->write(QByteArray("north-") + char('1' + i));
    }
    EXPECT_TRUE(net.pumpUntil([&] {
        return std::count_if(callers.begin(), callers.end(), [](const auto &caller) {
                   return caller->state() == QAbstractSocket::UnconnectedState;
               }) == 3;
    })) << "three of five closed";
    EXPECT_EQ(listener.refusedCount(), 3);
    EXPECT_EQ(listener.waitingCount(), 2);
    std::unique_ptr<AcceptedPort> one, two;
    for (auto *port : {&one, &two}) {
        auto next = listener.nextCaller(1000);
        ASSERT_EQ(next.outcome, Outcome::Accepted);
        *port = std::move(next.port);
    }
    EXPECT_EQ(one->peerAddress(), QStringLiteral("127.0.0.1:%1").arg(callers[0]->localPort()));
    EXPECT_EQ(two->peerAddress(), QStringLiteral("127.0.0.1:%1").arg(callers[1]->localPort()));
    callers[0]->write(" once more");
    EXPECT_EQ(net.readFrom(*two, 7), QByteArray("north-2"));
    EXPECT_EQ(net.readFrom(*one, 17), QByteArray("north-1 once more"));
    EXPECT_EQ(two->receivedCount(), 0);
    ASSERT_TRUE(two->send("to two") && one->send("to one"));
    EXPECT_EQ(net.readFrom(*callers[0], 6), QByteArray("to one"));
    EXPECT_EQ(net.readFrom(*callers[1], 6), QByteArray("to two"));

    // One caller gone leaves the other's line as it was.
    callers[0]->abort();
    EXPECT_TRUE(net.pumpUntil([&] { return one->lineLost(); }));
    EXPECT_TRUE(two->send("still"));
    EXPECT_EQ(net.readFrom(*callers[1], 5), QByteArray("still"));
    EXPECT_FALSE(two->lineLost());
    // Room again once they were taken.
    auto later = net.call(listener.port());
    EXPECT_EQ(listener.nextCaller(3000).outcome, Outcome::Accepted);
}

TEST(NetworkListener, CallersThatHungUpWhileWaitingMakeRoomForOneThatCallsNow)
{
    Listening net(2);
    NetworkListener &listener = net.listener;
    for (int i = 0; i < 2; ++i) {
        auto gone = net.call(listener.port());
        net.pumpUntil([&] { return listener.waitingCount() == i + 1; });
        gone->disconnectFromHost();
        net.pumpUntil([&] { return gone->state() == QAbstractSocket::UnconnectedState; });
    }
    // Long enough for the listener's side to have seen both hang up.
    net.pumpUntil([] { return false; }, 200);
    auto caller = net.call(listener.port());
    caller->write("north-3");
    net.pumpUntil([&] { return listener.waitingCount() == 1 && caller->bytesToWrite() == 0; }, 1000);
    EXPECT_EQ(listener.refusedCount(), 0);
    auto next = listener.nextCaller(1000);

    ASSERT_EQ(next.outcome, Outcome::Accepted);
    EXPECT_EQ(net.readFrom(*next.port, 7), QByteArray("north-3"));
}

// Nothing turns the event loop here, so no caller ever arrives: only the deadline or Stop end the wait.
TEST(NetworkListener, AWaitForTheNextCallerEndsAtItsTimeOrAtStop)
{
    const struct {
        int timeoutMs, stopAtMs, endsAtMs;
        bool listening;
        Outcome outcome;
    } rows[] = {
        {1500, -1, 1500, true, Outcome::TimedOut},
        {10000, 300, 300, true, Outcome::Stopped},
        {10000, -1, 0, false, Outcome::NotListening},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.timeoutMs + row.stopAtMs);
        VirtualClock clock;
        VirtualEventPump pump(clock);
        std::atomic<bool> stop{false};
        if (row.stopAtMs >= 0)
            pump.runAfter(row.stopAtMs, [&] { stop = true; });
        NetworkListener listener(clock, pump, &stop);
        if (row.listening) {
            ASSERT_TRUE(listener.listen(QStringLiteral("127.0.0.1"), 0));
        }
        const std::int64_t start = clock.monotonicMs();
        const auto next = listener.nextCaller(row.timeoutMs);
        EXPECT_EQ(next.outcome, row.outcome);
        EXPECT_FALSE(next.port);
        EXPECT_NEAR(clock.monotonicMs() - start, row.endsAtMs, 10);
    }
}

TEST(NetworkListener, AnAddressThatCannotBeListenedOnIsRefusedWithTheAddressAndTheSystemsReason)
{
    Listening net;
    const QString inUse = QString::number(net.listener.port());
    const struct {
        const char *host;
        QString port;
        QString error;
    } rows[] = {
        {"127.0.0.1", inUse, "Cannot listen on 127.0.0.1:" + inUse + ": address in use"},
        // TEST-NET-1: never an address of this host.
        {"192.0.2.1", "4100", "Cannot listen on 192.0.2.1:4100: not an address of this host"},
        {"collector.example", "4100", "Cannot listen on collector.example:4100: not an IP address"},
    };
    for (const auto &row : rows) {
        NetworkListener listener(net.clock, net.pump, nullptr);
        EXPECT_FALSE(listener.listen(QLatin1String(row.host), row.port.toUShort()));
        EXPECT_FALSE(listener.isListening());
        EXPECT_TRUE(listener.errorString().startsWith(row.error)) << listener.errorString().toStdString();
    }
}

} // namespace
} // namespace ostrand
