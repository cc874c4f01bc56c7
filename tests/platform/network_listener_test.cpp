#include "platform/network_listener.h"
#include "platform/qt_event_pump.h"
#include "platform/system_clock.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"

#include <QTcpSocket>
#include <gtest/gtest.h>
#include <list>

namespace ostrand {
namespace {

using Outcome = NetworkListener::NextCaller::Outcome;

QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }
std::string shown(const QByteArray &bytes) { return bytes.toHex(' ').toStdString(); }

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

TEST(NetworkListener, TwoCallersAreTakenInTheOrderTheyCalledEachOnItsOwnLine)
{
    Listening net;
    NetworkListener &listener = net.listener;
    // The second may be the same router again, its first connection not yet seen to be stale.
    auto first = net.call(listener.port());
    auto second = net.call(listener.port());
    first->write("north-1 ");
    second->write("north-2 ");

    auto one = listener.nextCaller(3000);
    auto two = listener.nextCaller(3000);
    ASSERT_EQ(one.outcome, Outcome::Accepted);
    ASSERT_EQ(two.outcome, Outcome::Accepted);
    EXPECT_EQ(one.port->peerAddress(), QStringLiteral("127.0.0.1:%1").arg(first->localPort()));
    EXPECT_EQ(two.port->peerAddress(), QStringLiteral("127.0.0.1:%1").arg(second->localPort()));

    first->write("once more");
    EXPECT_EQ(net.readFrom(*two.port, 8), QByteArray("north-2 "));
    EXPECT_EQ(net.readFrom(*one.port, 17), QByteArray("north-1 once more"));
    EXPECT_EQ(two.port->receivedCount(), 0);
    ASSERT_TRUE(two.port->send("to two"));
    ASSERT_TRUE(one.port->send("to one"));
    EXPECT_EQ(net.readFrom(*first, 6), QByteArray("to one"));
    EXPECT_EQ(net.readFrom(*second, 6), QByteArray("to two"));

    // One caller gone leaves the other's line as it was.
    first->abort();
    EXPECT_TRUE(net.pumpUntil([&] { return one.port->lineLost(); }));
    EXPECT_TRUE(two.port->send("still"));
    EXPECT_EQ(net.readFrom(*second, 5), QByteArray("still"));
    EXPECT_FALSE(two.port->lineLost());
}

TEST(NetworkListener, CallersBeyondTheWaitingLimitAreClosedOnArrivalAndTheWaitingOnesKept)
{
    Listening net(2);
    NetworkListener &listener = net.listener;
    std::list<std::unique_ptr<QTcpSocket>> callers;
    for (int i = 0; i < 5; ++i)
        callers.push_back(net.call(listener.port()));
    EXPECT_TRUE(net.pumpUntil([&] {
        return std::count_if(callers.begin(), callers.end(), [](const auto &caller) {
                   return caller->state() == QAbstractSocket::UnconnectedState;
               }) == 3;
    })) << "three of five closed";
    EXPECT_EQ(listener.refusedCount(), 3);
    EXPECT_EQ(listener.waitingCount(), 2);
    for (auto it = callers.begin(); it != std::next(callers.begin(), 2); ++it) {
        auto next = listener.nextCaller(1000);
        ASSERT_EQ(next.outcome, Outcome::Accepted);
        EXPECT_EQ(next.port->peerAddress(), QStringLiteral("127.0.0.1:%1").arg((*it)->localPort()));
        EXPECT_TRUE(next.port->send("ok"));
        EXPECT_EQ(net.readFrom(**it, 2), QByteArray("ok"));
    }
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
        {10000, -1, 10000, true, Outcome::TimedOut},
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
