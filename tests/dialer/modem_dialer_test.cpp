#include "link/modem_dialer.h"
#include "tests/link/link_fixture.h"

#include <algorithm>
#include <vector>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

using Commands = std::vector<QByteArray>;

// An echoing modem on the fake port, and a status line that the test reads and
// writes as any of the window's handlers could.
class DialerTest : public LinkFixture {
protected:
    DialerTest()
    {
        port.setResponder([this](const QByteArray &sent, FakeSerialPort &p) {
            if (!modemAttached || sent == "+++")
                return;
            p.deliver(sent, 0, bytesPerSecond);
            if (sent == "AT\r" || sent == "ATH0\r")
                p.deliver(okReply, 0, bytesPerSecond);
            else if (sent.startsWith("ATDT") && !dialResult.isEmpty())
                p.deliver(dialResult, connectDelayMs, bytesPerSecond);
        });
    }
    Commands sent() const
    {
        Commands commands;
        for (const auto &s : port.sends())
            commands.push_back(s.bytes);
        return commands;
    }
    std::int64_t sentAtMs(const QByteArray &bytes) const
    {
        const auto &s = port.sends();
        const auto it = std::find_if(s.begin(), s.end(), [&](const auto &x) { return x.bytes == bytes; });
        return it == s.end() ? -1 : it->atMs;
    }
    DialResult dial(const char *number = "1") { return dialer.dialModem(QString::fromLatin1(number)); }

    bool modemAttached = true;
    QByteArray okReply = "\r\nOK\r\n";
    QByteArray dialResult = "\r\nCONNECT 9600\r\n"; // empty: the dial is never answered
    int connectDelayMs = 2000;
    int bytesPerSecond = 960;

    QString label = QStringLiteral("Okay");
    std::vector<QString> statuses;
    std::vector<std::size_t> hangupShownAfter; // commands sent each time "Hangup" was shown
    ModemDialer dialer{link, pump,
                       DialerView{[this] { return label; },
                                  [this](const QString &text) { statuses.push_back(label = text); },
                                  [this] { hangupShownAfter.push_back(port.sends().size()); }}};
};

struct DialRow {
    const char *what;
    bool attached;
    const char *ok, *connect; // the modem's spellings; connect empty: the dial is never answered
    int connectDelayMs, hangUpAtMs;
    bool nearMidnight; // and the clock set back to 1:00 while waiting
    DialResult result;
    Commands commands;
    const char *status;
    QByteArray timedFrom; // the command the dial's length is measured from
    int minMs, maxMs;
};

const Commands kDialled{"\r", "AT\r", "ATDT 1\r"}, kWoken{"\r", "AT\r"};
const char *const kConnected = "\r\nATDT 1\r\r\nCONNECT 9600\r\n", *const kFailed = "Could not connect";
const DialRow kDialRows[] = {
    {"connects", true, "OK", "CONNECT", 2000, 0, false, DialResult::Connected, kDialled, kConnected, "ATDT 1\r", 5000, 5100},
    {"Ok/Connect", true, "Ok", "Connect", 2000, 0, false, DialResult::Connected, kDialled, nullptr, "", 0, 0},
    {"ok/CONNECT", true, "ok", "CONNECT", 2000, 0, false, DialResult::Connected, kDialled, nullptr, "", 0, 0},
    {"oK is no OK", true, "oK", "CONNECT", 2000, 0, false, DialResult::CouldNotConnect, kWoken, kFailed, "", 0, 0},
    {"connect is no CONNECT", true, "OK", "connect", 2000, 0, false, DialResult::CouldNotConnect, kDialled, kFailed, "", 0, 0},
    {"no OK in 90 s", false, "OK", "CONNECT", 0, 0, false, DialResult::CouldNotConnect, kWoken, kFailed, "AT\r", 90001, 90020},
    {"a refusal is only shown", true, "OK", "NO CARRIER", 30000, 0, false, DialResult::CouldNotConnect, kDialled, kFailed, "ATDT 1\r", 90001, 90030},
    {"a connect just before 90 s", true, "OK", "CONNECT", 89000, 0, false, DialResult::Connected, kDialled, kConnected, "ATDT 1\r", 92001, 92100},
    {"midnight", false, "OK", "CONNECT", 0, 200000, true, DialResult::CouldNotConnect, kWoken, kFailed, "AT\r", 90001, 90020},
    {"hang-up waiting for OK", false, "OK", "CONNECT", 0, 10000, false, DialResult::HungUp, {"\r", "AT\r", "+++", "ATH0\r"}, "Okay", "AT\r", 0, 20000},
    {"hang-up waiting for CONNECT", true, "OK", "", 0, 10000, false, DialResult::HungUp, {"\r", "AT\r", "ATDT 1\r", "+++", "ATH0\r"}, "Okay", "AT\r", 0, 20000},
};

class DialOutcome : public DialerTest, public ::testing::WithParamInterface<DialRow> {};

// Each row: how the modem answers (or the operator hangs up, or the clock jumps), and how the
// dial ends: its result, every command sent, the status line and its length from one command.
TEST_P(DialOutcome, endsAsTheModemsAnswersTheNinetySecondWaitsOrAHangUpDecide)
{
    const DialRow &row = GetParam();
    SCOPED_TRACE(row.what);
    modemAttached = row.attached;
    okReply = QByteArray("\r\n") + row.ok + "\r\n";
    dialResult = *row.connect ? QByteArray("\r\n") + row.connect + " 9600\r\n" : QByteArray();
    connectDelayMs = row.connectDelayMs;
    if (row.nearMidnight) {
        clock.setTimeOfDay(86400 - 30);
        pump.runAfter(40000, [&] { clock.setTimeOfDay(3600); });
    }
    // A wait that would not end by itself ends with the hang-up, and the row fails instead of hanging.
    if (row.hangUpAtMs)
        pump.runAfter(row.hangUpAtMs, [&] { dialer.hangUpModem(); });
    EXPECT_EQ(dial(), row.result);
    EXPECT_EQ(sent(), row.commands);
    EXPECT_TRUE(!row.status || label == row.status) << label.toStdString();
    const std::int64_t took = clock.monotonicMs() - sentAtMs(row.timedFrom);
    EXPECT_TRUE(row.timedFrom.isEmpty() || (took >= row.minMs && took <= row.maxMs)) << took;
    EXPECT_EQ(port.isOpen(), row.result != DialResult::HungUp) << "only a hang-up closes the port";
    const bool numberSent = std::count(row.commands.begin(), row.commands.end(), "ATDT 1\r") > 0;
    EXPECT_EQ(hangupShownAfter.empty(), !numberSent) << "\"Hangup\" is offered once the number went out";
}
INSTANTIATE_TEST_SUITE_P(Rows, DialOutcome, ::testing::ValuesIn(kDialRows));

TEST_F(DialerTest, wakesAsksForAttentionAndDialsWithTheWindowFrozenAfterTheWake)
{
    std::size_t sentWhenHandled = 0;
    pump.runAfter(100, [&] { sentWhenHandled = port.sends().size(); });
    EXPECT_EQ(dial("5551234"), DialResult::Connected);
    EXPECT_EQ(sent(), (Commands{"\r", "AT\r", "ATDT 5551234\r"}));
    EXPECT_GT(sentAtMs("AT\r") - sentAtMs("\r"), 1000);
    EXPECT_EQ(sentWhenHandled, 1u) << "no handler runs in the second after the wake";
    const auto dialing = std::find(statuses.begin(), statuses.end(), "Dialing 5551234");
    ASSERT_NE(dialing, statuses.end());
    EXPECT_EQ(*(dialing - 1), "AT\r\r\nOK") << "the dial goes on once OK stands complete";
    EXPECT_EQ(hangupShownAfter, std::vector<std::size_t>{3}) << "shown once the number went out";
    EXPECT_EQ(dial(""), DialResult::Connected);
    EXPECT_EQ(sent().back(), "ATDT \r") << "the bare command from an empty phone box";
}

TEST_F(DialerTest, growsTheStatusLineByteByByteAndWaitsThreeSecondsFromTheWholeConnectWord)
{
    bytesPerSecond = 4;
    std::int64_t connectSeenMs = -1;
    pump.onEachYield([&] {
        if (connectSeenMs < 0 && label.contains("CONNECT"))
            connectSeenMs = clock.monotonicMs();
    });
    EXPECT_EQ(dial("7"), DialResult::Connected);
    const auto dialing = std::find(statuses.begin(), statuses.end(), "Dialing 7");
    ASSERT_NE(dialing, statuses.end());
    for (auto it = dialing + 2; it < statuses.end(); ++it)
        EXPECT_EQ(*it, *(it - 1) + it->back()) << "one byte more on each update";
    EXPECT_TRUE(label.endsWith("CONNECT 9600\r\n")) << "the line speed came within the 3 s";
    EXPECT_NEAR(clock.monotonicMs() - connectSeenMs, 3010, 11);
}

TEST_F(DialerTest, endsAtOnceWhenThePortWillNotOpenOrAnotherOperationHoldsTheLink)
{
    port.failOpenWith(QStringLiteral("in use"));
    EXPECT_EQ(dial(), DialResult::PortNotOpen);
    EXPECT_TRUE(port.sends().empty() && statuses.empty());
    EXPECT_EQ(clock.monotonicMs(), 0);
    port.allowOpen();
    DialResult nested = DialResult::Connected;
    pump.runAfter(1500, [&] {
        EXPECT_TRUE(link.isBusy()) << "display polls must stay off the line during a dial";
        nested = dial("2");
    });
    EXPECT_EQ(dial(), DialResult::Connected);
    EXPECT_EQ(nested, DialResult::Busy);
    const MeterLink::Hold download(link);
    EXPECT_EQ(dial(), DialResult::Busy);
    EXPECT_EQ(port.sends().size(), 3u);
}

TEST_F(DialerTest, findsTheModemsAnswerOnTheStatusLineWhoeverWroteIt)
{
    modemAttached = false;
    pump.runAfter(5000, [&] { label = QStringLiteral("OK"); });
    EXPECT_EQ(dial(), DialResult::CouldNotConnect);
    EXPECT_EQ(sent().back(), "ATDT 1\r");
}

TEST_F(DialerTest, hangingUpEscapesWaitsOutTheGuardTimesFrozenEvenAcrossMidnightAndClosesThePort)
{
    dialer.hangUpModem();
    EXPECT_TRUE(port.opens().empty() && port.sends().empty()) << "a closed port is left alone";
    EXPECT_EQ(clock.monotonicMs(), 0);
    ASSERT_TRUE(serial.openPort());
    clock.setTimeOfDay(86400 - 1);
    std::size_t sentWhenHandled = 0;
    pump.runAfter(500, [&] {
        sentWhenHandled = port.sends().size();
        dialer.hangUpModem(); // a second click while the first hang-up runs
    });
    dialer.hangUpModem();
    EXPECT_EQ(sent(), (Commands{"+++", "ATH0\r"}));
    EXPECT_GT(sentAtMs("ATH0\r") - sentAtMs("+++"), 2000);
    EXPECT_EQ(sentWhenHandled, 2u) << "the guard time lets no handler run";
    EXPECT_EQ(statuses, (std::vector<QString>{"Okay", "Hanging up Line", "Okay"}));
    EXPECT_EQ(port.closeCount(), 1);
    EXPECT_NEAR(clock.monotonicMs(), 6005, 5);
}

} // namespace
