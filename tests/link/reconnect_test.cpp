#include "link_fixture.h"

#include <optional>

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

} // namespace

TEST_F(LinkFixture, aDroppedConnectionIsMadeAgainAtOnceUpToThreeTimesWithin30sAndOnlyReadsAreAskedAgain)
{
    DroppingPort *server = nullptr;
    serial.setNetworkPortMaker([&](const LinkSettings &, const std::atomic<bool> *) {
        auto made = std::make_unique<DroppingPort>(clock);
        server = made.get();
        return made;
    });
    LinkSettings settings{1, QStringLiteral("38400"), 1};
    settings.networkAddress = QStringLiteral("tcp://gw:4001");
    serial.setSettings(settings);
    const QByteArray block = appendCrc(QByteArray::fromHex("0160088000000a") + QByteArray(10, 'x'));
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
        if (server)
            server->allowOpen();
        serial.closePort();
        ASSERT_TRUE(serial.openPort());
        server->failedConnectMs = row.failedConnectMs;
        const size_t sends = server->sends().size();
        const size_t opens = server->opens().size();
        int n = 0;
        server->setResponder([&](const QByteArray &, FakeSerialPort &) {
            if (++n > row.drops)
                return server->deliver(row.confirm ? QByteArray::fromHex("01") : block);
            server->deliver(block.left(5));
            server->drop();
            if (row.refused)
                server->failOpenWith(QStringLiteral("connection refused"));
        });
        MeterLink::Hold hold(link);
        std::optional<LinkFailure> failure;
        if (const auto confirmed = row.confirm ? link.confirmDownload(1) : Result<void>(); !confirmed)
            failure = confirmed.failure();
        if (const auto read = row.confirm ? Result<QByteArray>(block) : link.readLogBlock(1, 8, 0x80, 0, 5); !read)
            failure = read.failure();
        EXPECT_EQ(static_cast<int>(server->sends().size() - sends), row.sends);
        EXPECT_EQ(static_cast<int>(server->opens().size() - opens), row.reconnects);
        const QString text = failure ? failureText(*failure, QStringLiteral("the download")) : QString();
        EXPECT_EQ(text.isEmpty(), row.reason.isEmpty());
        EXPECT_TRUE(text.contains(row.reason)) << text.toStdString();
        // Once the reconnects are spent, the rest of the operation ends at once.
        if (!row.reason.isEmpty() && !row.confirm) {
            EXPECT_EQ(link.readLogBlock(1, 8, 0x81, 0, 5).error(), LinkError::PortNotOpen);
            EXPECT_EQ(static_cast<int>(server->opens().size() - opens), row.reconnects);
        }
    }
}
