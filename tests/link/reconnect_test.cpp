#include "link_fixture.h"

#include "link/link_failure.h"

#include <optional>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// A device server's port: the far end may close the connection, and each
// connect may take its time or be refused.
class DroppingPort : public FakeSerialPort {
public:
    DroppingPort(VirtualClock &clock) : FakeSerialPort(clock), clock_(clock) {}
    void drop()
    {
        lost_ = true;
        unplug();
        plugBackIn();
    }
    bool open(int portNumber, const QString &baudText) override
    {
        lost_ = false;
        const bool opened = FakeSerialPort::open(portNumber, baudText);
        if (!opened)
            clock_.advance(failedConnectMs);
        return opened;
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

const QByteArray kBlock = appendCrc(QByteArray::fromHex("0160088000000a") + QByteArray(10, 'x'));

class Reconnect : public LinkFixture {
protected:
    Reconnect()
    {
        serial.setNetworkPortMaker([this](const LinkSettings &, const std::atomic<bool> *) {
            auto made = std::make_unique<DroppingPort>(clock);
            server = made.get();
            return made;
        });
        LinkSettings settings{1, QStringLiteral("38400"), 1};
        settings.networkAddress = QStringLiteral("tcp://gw:4001");
        serial.setSettings(settings);
        serial.openPort();
    }
    DroppingPort *server = nullptr;
};

} // namespace

TEST_F(Reconnect, aDroppedConnectionIsMadeAgainAtOnceUpToThreeTimesWithin30sAndOnlyReadsAreAskedAgain)
{
    const struct {
        const char *what;
        bool confirm;       // the exchange is a download confirmation, else a block read
        int drops;          // sends whose connection drops halfway through the reply
        bool refused;       // every connect after the first drop is refused
        int failedConnectMs;
        int sends;
        int opens;          // connects after the first
        const char *reason; // the failure's words; nullptr: the exchange succeeded
    } rows[] = {
        {"dropped once: asked again", false, 1, false, 0, 2, 1, nullptr},
        {"dropped thrice: asked a fourth time", false, 3, false, 0, 4, 3, nullptr},
        {"dropped on every try", false, 9, false, 0, 4, 3,
         "the connection to tcp://gw:4001 was lost (closed by the far end) and 3 tries to connect again failed"},
        {"every reconnect refused", false, 1, true, 0, 1, 3,
         "the connection to tcp://gw:4001 was lost (closed by the far end) and 3 tries to connect again failed: "
         "connection refused"},
        {"slow refusals: none begins 30 s after the drop", false, 1, true, 16000, 1, 2,
         "and 2 tries to connect again failed: connection refused"},
        {"a confirmation is never sent twice", true, 1, false, 0, 1, 0, "lost the line to tcp://gw:4001 during"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        server->allowOpen();
        serial.closePort();
        serial.openPort();
        server->failedConnectMs = row.failedConnectMs;
        const size_t sendsBefore = server->sends().size();
        const size_t opensBefore = server->opens().size();
        int n = 0;
        server->setResponder([&](const QByteArray &, FakeSerialPort &) {
            if (++n > row.drops) {
                server->deliver(row.confirm ? QByteArray::fromHex("01") : kBlock);
                return;
            }
            server->deliver(kBlock.left(5));
            server->drop();
            if (row.refused)
                server->failOpenWith(QStringLiteral("connection refused"));
        });
        MeterLink::Hold hold(link);
        std::optional<LinkFailure> failure;
        if (const auto confirmed = row.confirm ? link.confirmDownload(1) : Result<void>(); !confirmed)
            failure = confirmed.failure();
        if (const auto block = row.confirm ? Result<QByteArray>(QByteArray()) : link.readLogBlock(1, 8, 0x80, 0, 5); !block)
            failure = block.failure();
        EXPECT_EQ(failure.has_value(), row.reason != nullptr);
        EXPECT_EQ(static_cast<int>(server->sends().size() - sendsBefore), row.sends);
        EXPECT_EQ(static_cast<int>(server->opens().size() - opensBefore), row.opens);
        const QString text = failure ? failureText(*failure, QStringLiteral("the download")) : QString();
        if (row.reason) {
            EXPECT_TRUE(text.contains(QLatin1String(row.reason))) << text.toStdString();
        }
        // Once the reconnects are spent, the rest of the operation ends at once.
        if (row.reason && !row.confirm) {
            const size_t opens = server->opens().size();
            EXPECT_EQ(link.readLogBlock(1, 8, 0x81, 0, 5).error(), LinkError::PortNotOpen);
            EXPECT_EQ(server->opens().size(), opens);
        }
    }
}
