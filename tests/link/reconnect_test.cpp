#include "link_fixture.h"

#include <optional>
#include <utility>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// A device server's port: the far end may close the connection, and a refused connect may take its time.
class DroppingPort : public FakeSerialPort {
public:
    explicit DroppingPort(VirtualClock &clock) : FakeSerialPort(clock), clock_(clock) {}
    void drop()
    {
        lost_ = true;
        unplug();
        plugBackIn();
    }
    bool open(int portNumber, const QString &baudText) override
    {
        lost_ = false;
        return FakeSerialPort::open(portNumber, baudText) || (clock_.advance(failedConnectMs), false);
    }
    bool lineLost() const override { return lost_; }
    QString lostLineReason() const override { return lost_ ? QStringLiteral("closed by the far end") : QString(); }
    QString deviceName() const override { return QStringLiteral("tcp://gw:4001"); }
    bool namedByDevice() const override { return true; }
    int failedConnectMs = 0;

private:
    VirtualClock &clock_;
    bool lost_ = false;
};

// A device server at tcp://gw:4001 on the link, opened; `server` is its port.
class ReconnectFixture : public LinkFixture {
protected:
    ReconnectFixture()
    {
        serial.setNetworkPortMaker([this](const LinkSettings &, const std::atomic<bool> *) {
            auto made = std::make_unique<DroppingPort>(clock);
            server = made.get();
            return made;
        });
        LinkSettings settings{1, QStringLiteral("38400"), 1};
        settings.networkAddress = QStringLiteral("tcp://gw:4001");
        serial.setSettings(settings);
        serial.setStopFlag(&stop);
        serial.openPort();
    }
    // Half a reply, then the connection goes; connecting again is refused until allowed.
    void dropAndRefuse()
    {
        server->deliver(block.left(5));
        server->drop();
        server->failOpenWith(QStringLiteral("connection refused"));
    }
    // Connections made since `since` of them had been (the first one made by the fixture).
    int reconnects(std::size_t since = 1) const { return static_cast<int>(server->opens().size() - since); }
    // A fresh connection for the next row; returns the connections made so far.
    std::size_t connectAfresh()
    {
        server->allowOpen();
        serial.closePort();
        EXPECT_TRUE(serial.openPort());
        return server->opens().size();
    }

    const QByteArray block = appendCrc(QByteArray::fromHex("0160088000000a") + QByteArray(10, 'x'));
    DroppingPort *server = nullptr;
    std::atomic<bool> stop{false};
};

} // namespace

// Before, every exchange that got through restarted the tries (a download went on reconnecting for ever),
// and a connection closed after a whole reply was made again by the next exchange, uncounted.
TEST_F(ReconnectFixture, aLineThatDropsAgainAfterEveryReconnectEndsTheOperationAfterThreeReconnects)
{
    for (const bool betweenExchanges : {false, true}) {
        SCOPED_TRACE(betweenExchanges ? "closed after each whole reply" : "one whole reply, then half the next");
        const std::size_t opens = connectAfresh();
        std::size_t connection = 0;
        int asked = 0;
        server->setResponder([&](const QByteArray &, FakeSerialPort &) {
            if (connection != server->opens().size())
                connection = server->opens().size(), asked = 0;
            if (betweenExchanges || ++asked == 1)
                server->deliver(block);
            else
                server->deliver(block.left(5)), server->drop();
            if (betweenExchanges) // closed once the reply has been read, before the next request
                pump.runAt(server->lineIdleAtMs() + 3, [&] { server->drop(); });
        });
        MeterLink::Hold hold(link);
        const std::int64_t start = clock.monotonicMs();
        std::optional<LinkFailure> failure;
        int read = 0;
        for (; read < 100 && !failure; ++read)
            if (auto got = link.readLogBlock(1, 8, 0x80, 0, 5); !got)
                failure = got.failure();
        pump.clearHooks();
        ASSERT_TRUE(failure);
        EXPECT_EQ(read - 1, 4) << "one read on each connection";
        EXPECT_EQ(reconnects(opens), 3);
        EXPECT_TRUE(failureText(*failure).contains(QStringLiteral("3 tries to connect again failed")))
            << failureText(*failure).toStdString();
        // The tries waited 1 s, 3 s and 9 s.
        EXPECT_GE(secondsSince(start), 13.0);
        EXPECT_LT(secondsSince(start), 14.0);
    }
}

// Before, the three tries fell within a millisecond of the drop: a server restarting in a second was never reached.
TEST_F(ReconnectFixture, aServerBackAfterItRestartsIsReachedByATryAfterItsPause)
{
    const struct {
        int backAfterMs;
        bool reached;
        int reconnects; // tries made, the last one reaching the server if any did
        double endsAfter; // seconds from the drop
    } rows[] = {
        {500, true, 1, 1},
        {1200, true, 2, 4},
        {5000, true, 3, 13},
        {14000, false, 3, 13},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.backAfterMs);
        const std::size_t opens = connectAfresh();
        bool dropped = false;
        server->setResponder([&](const QByteArray &, FakeSerialPort &) {
            if (std::exchange(dropped, true))
                return server->deliver(block);
            dropAndRefuse();
            pump.runAfter(row.backAfterMs, [&] { server->allowOpen(); });
        });
        MeterLink::Hold hold(link);
        const std::int64_t start = clock.monotonicMs();
        const auto read = link.readLogBlock(1, 8, 0x80, 0, 5);
        pump.clearHooks();
        EXPECT_EQ(read.ok(), row.reached);
        EXPECT_EQ(reconnects(opens), row.reconnects);
        EXPECT_NEAR(secondsSince(start), row.endsAfter, 0.1);
    }
}

TEST_F(ReconnectFixture, stopDuringThePauseBeforeATryEndsTheExchangeAtOnceWithoutConnecting)
{
    server->setResponder([&](const QByteArray &, FakeSerialPort &) {
        dropAndRefuse();
        pump.runAfter(400, [&] { stop = true; });
    });
    MeterLink::Hold hold(link);
    const std::int64_t start = clock.monotonicMs();
    EXPECT_EQ(link.readLogBlock(1, 8, 0x80, 0, 5).error(), LinkError::Stopped);
    EXPECT_NEAR(secondsSince(start), 0.4, 0.05);
    EXPECT_EQ(reconnects(), 0);
}

TEST_F(ReconnectFixture, aDroppedConnectionIsMadeAgainUpToThreeTimesWithin30sAndOnlyReadsAreAskedAgain)
{
    const char *const lost = "the connection to tcp://gw:4001 was lost (closed by the far end) and ";
    const struct {
        const char *what;
        bool confirm;    // a download confirmation, else a block read
        int drops;       // sends whose connection drops halfway through the reply
        bool refused;    // every connect after the first drop is refused, taking failedConnectMs
        int failedConnectMs, sends, reconnects;
        QString reason; // empty: the exchange succeeded
    } rows[] = {
        {"dropped once: asked again", false, 1, false, 0, 2, 1, ""},
        {"dropped thrice: asked a fourth time", false, 3, false, 0, 4, 3, ""},
        {"dropped on every try", false, 9, false, 0, 4, 3, lost + QStringLiteral("3 tries to connect again failed")},
        {"every reconnect refused", false, 1, true, 0, 1, 3, lost + QStringLiteral("3 tries to connect again failed: connection refused")},
        {"none begins 30 s after the drop", false, 1, true, 16000, 1, 2, lost + QStringLiteral("2 tries")},
        {"a confirmation is never sent twice", true, 1, false, 0, 1, 0, "lost the line to tcp://gw:4001 during the download"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        const std::size_t opens = connectAfresh(), sends = server->sends().size();
        server->failedConnectMs = row.failedConnectMs;
        int n = 0;
        server->setResponder([&](const QByteArray &, FakeSerialPort &) {
            if (++n > row.drops)
                return server->deliver(row.confirm ? QByteArray::fromHex("01") : block);
            row.refused ? dropAndRefuse() : (server->deliver(block.left(5)), server->drop());
        });
        MeterLink::Hold hold(link);
        std::optional<LinkFailure> failure;
        if (const auto confirmed = row.confirm ? link.confirmDownload(1) : Result<void>(); !confirmed)
            failure = confirmed.failure();
        if (const auto read = row.confirm ? Result<QByteArray>(block) : link.readLogBlock(1, 8, 0x80, 0, 5); !read)
            failure = read.failure();
        EXPECT_EQ(static_cast<int>(server->sends().size() - sends), row.sends);
        EXPECT_EQ(reconnects(opens), row.reconnects);
        const QString text = failure ? failureText(*failure, QStringLiteral("the download")) : QString();
        EXPECT_EQ(text.isEmpty(), row.reason.isEmpty());
        EXPECT_TRUE(text.contains(row.reason)) << text.toStdString();
        // Once the reconnects are spent, the rest of the operation ends at once.
        if (!row.reason.isEmpty() && !row.confirm) {
            EXPECT_EQ(link.readLogBlock(1, 8, 0x81, 0, 5).error(), LinkError::PortNotOpen);
            EXPECT_EQ(reconnects(opens), row.reconnects);
        }
    }
}
