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
        for (const auto &s : port.sends())
            if (s.bytes == bytes)
                return s.atMs;
        return -1;
    }
    DialResult dial(const char *number = "1")
    {
        return dialer.dialModem(QString::fromLatin1(number));
    }

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

using DialingAModem = DialerTest;
using TimingTheWaits = DialerTest;
using HangingUp = DialerTest;

} // namespace

TEST_F(DialingAModem, wakesItAsksForAttentionDialsAndConnectsWithTheWindowFrozenAfterTheWake)
{
    std::size_t sentWhenHandled = 0;
    pump.runAfter(100, [&] { sentWhenHandled = port.sends().size(); });
    EXPECT_EQ(dial("5551234"), DialResult::Connected);
    EXPECT_EQ(sent(), (Commands{"\r", "AT\r", "ATDT 5551234\r"}));
    EXPECT_GT(sentAtMs("AT\r") - sentAtMs("\r"), 1000);
    EXPECT_EQ(sentWhenHandled, 1u) << "no handler runs in the second after the wake";
    EXPECT_GE(pump.sleptMs(), 1000);
    EXPECT_EQ(statuses.front(), "") << "the status line is cleared as the dial begins";
    const auto dialing = std::find(statuses.begin(), statuses.end(), "Dialing 5551234");
    ASSERT_NE(dialing, statuses.end());
    EXPECT_EQ(*(dialing - 1), "AT\r\r\nOK") << "the dial goes on once OK stands complete";
    EXPECT_EQ(label, "\r\nATDT 5551234\r\r\nCONNECT 9600\r\n");
    EXPECT_EQ(hangupShownAfter, std::vector<std::size_t>{3}) << "shown once the number went out";
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.discardInputCount(), 2);
    EXPECT_EQ(port.discardOutputCount(), 2);
}

TEST_F(DialingAModem, dialsTheBareCommandFromAnEmptyPhoneBox)
{
    EXPECT_EQ(dial(""), DialResult::Connected);
    EXPECT_EQ(sent().back(), "ATDT \r");
}

TEST_F(DialingAModem, growsTheStatusLineByteByByteAndWaitsThreeSecondsFromTheWholeConnectWord)
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
    EXPECT_GE(clock.monotonicMs() - connectSeenMs, 2999);
    EXPECT_LE(clock.monotonicMs() - connectSeenMs, 3020);
}

TEST_F(DialingAModem, endsAtOnceLeavingTheStatusLineWhenThePortWillNotOpen)
{
    port.failOpenWith(QStringLiteral("in use"));
    EXPECT_EQ(dial(), DialResult::PortNotOpen);
    EXPECT_TRUE(port.sends().empty());
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(clock.monotonicMs(), 0);
}

TEST_F(DialingAModem, findsTheModemsAnswerOnTheStatusLineWhoeverWroteIt)
{
    modemAttached = false;
    pump.runAfter(5000, [&] { label = QStringLiteral("OK"); });
    EXPECT_EQ(dial(), DialResult::CouldNotConnect);
    EXPECT_EQ(sent().back(), "ATDT 1\r");
}

TEST_F(DialingAModem, isRefusedWhileAnotherDialOrOperationHoldsTheLink)
{
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

struct Words {
    const char *ok;
    const char *connect;
    bool connects;
};
void PrintTo(const Words &w, std::ostream *os)
{
    *os << w.ok << '/' << w.connect;
}

class TheModemsAnswers : public DialerTest, public ::testing::WithParamInterface<Words> {};

TEST_P(TheModemsAnswers, countOnlyInTheSpellingsTheDialKnows)
{
    okReply = QByteArray("\r\n") + GetParam().ok + "\r\n";
    dialResult = QByteArray("\r\n") + GetParam().connect + " 9600\r\n";
    EXPECT_EQ(dial(), GetParam().connects ? DialResult::Connected : DialResult::CouldNotConnect);
    EXPECT_EQ(label == "Could not connect", !GetParam().connects);
}
INSTANTIATE_TEST_SUITE_P(
    Spellings, TheModemsAnswers,
    ::testing::Values(Words{"OK", "CONNECT", true}, Words{"Ok", "Connect", true},
                      Words{"ok", "CONNECT", true}, Words{"oK", "CONNECT", false},
                      Words{"OK", "connect", false}),
    [](const auto &info) { return std::string(info.param.ok) + "Then" + info.param.connect; });

TEST_F(TimingTheWaits, giveUpOnTheAttentionCommandAfterNinetySecondsLeavingThePortOpen)
{
    modemAttached = false;
    EXPECT_EQ(dial(), DialResult::CouldNotConnect);
    EXPECT_EQ(label, "Could not connect");
    EXPECT_GT(clock.monotonicMs() - sentAtMs("AT\r"), 90000);
    EXPECT_LE(clock.monotonicMs() - sentAtMs("AT\r"), 90020);
    EXPECT_EQ(port.sends().size(), 2u);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.discardInputCount(), 1) << "nothing more is discarded";
    EXPECT_TRUE(hangupShownAfter.empty());
}

TEST_F(TimingTheWaits, giveUpOnTheNumberAfterNinetySecondsShowingWhatTheModemSaidMeanwhile)
{
    dialResult = "\r\nNO CARRIER\r\n";
    connectDelayMs = 30000;
    QString shownAt60s;
    pump.runAfter(60000, [&] { shownAt60s = label; });
    EXPECT_EQ(dial(), DialResult::CouldNotConnect);
    EXPECT_TRUE(shownAt60s.endsWith("NO CARRIER\r\n")) << "a refusal is only shown";
    EXPECT_GT(clock.monotonicMs() - sentAtMs("ATDT 1\r"), 90000);
    EXPECT_LE(clock.monotonicMs() - sentAtMs("ATDT 1\r"), 90030);
    EXPECT_EQ(label, "Could not connect");
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.discardInputCount(), 2);
}

TEST_F(TimingTheWaits, stillGiveAConnectReportJustBeforeTheNinetySecondsItsThreeSeconds)
{
    connectDelayMs = 89000;
    EXPECT_EQ(dial(), DialResult::Connected);
    EXPECT_TRUE(label.endsWith("CONNECT 9600\r\n"));
    EXPECT_GT(clock.monotonicMs() - sentAtMs("ATDT 1\r"), 89000 + 3000);
}

TEST_F(TimingTheWaits, endOnTimeAcrossMidnightAndWhenTheClockIsSetBack)
{
    modemAttached = false;
    clock.setTimeOfDay(86400 - 30);
    pump.runAfter(40000, [&] { clock.setTimeOfDay(3600); });
    // Should the wait not end by itself, the user gives up and the test fails instead of hanging.
    pump.runAfter(200000, [&] { dialer.hangUpModem(); });
    EXPECT_EQ(dial(), DialResult::CouldNotConnect);
    EXPECT_LE(clock.monotonicMs() - sentAtMs("AT\r"), 90020);

    clock.setTimeOfDay(86400 - 1);
    const std::int64_t start = clock.monotonicMs();
    dialer.hangUpModem();
    EXPECT_GT(clock.monotonicMs() - start, 6000);
    EXPECT_LE(clock.monotonicMs() - start, 6010);
}

TEST_F(HangingUp, escapesWaitsOutTheGuardTimeHangsUpAndClosesThePortWithTheWindowFrozen)
{
    ASSERT_TRUE(serial.openPort());
    std::size_t sentWhenHandled = 0;
    pump.runAfter(500, [&] {
        sentWhenHandled = port.sends().size();
        dialer.hangUpModem(); // a second click while the first hang-up runs
    });
    dialer.hangUpModem();
    EXPECT_EQ(sent(), (Commands{"+++", "ATH0\r"}));
    EXPECT_GT(sentAtMs("ATH0\r") - sentAtMs("+++"), 2000);
    EXPECT_EQ(sentWhenHandled, 2u) << "the guard time lets no handler run";
    EXPECT_EQ(statuses, (std::vector<QString>{"Hanging up Line", "Okay"}));
    EXPECT_EQ(port.closeCount(), 1);
    EXPECT_FALSE(port.isOpen());
    EXPECT_GT(clock.monotonicMs(), 6000);
    EXPECT_GE(pump.sleptMs(), 6000);
}

TEST_F(HangingUp, withThePortClosedNeitherOpensNorSendsNorWaits)
{
    dialer.hangUpModem();
    EXPECT_TRUE(port.opens().empty());
    EXPECT_TRUE(port.sends().empty());
    EXPECT_EQ(statuses, std::vector<QString>{"Okay"});
    EXPECT_EQ(clock.monotonicMs(), 0);
}

TEST_F(HangingUp, duringTheWaitForTheConnectReportEndsTheDialWithoutTouchingTheClosedPort)
{
    dialResult.clear();
    pump.runAfter(10000, [&] { dialer.hangUpModem(); });
    EXPECT_EQ(dial(), DialResult::HungUp);
    EXPECT_EQ(sent(), (Commands{"\r", "AT\r", "ATDT 1\r", "+++", "ATH0\r"}));
    EXPECT_EQ(label, "Okay");
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.opens().size(), 1u);
    EXPECT_EQ(port.discardInputCount(), 1);
    EXPECT_LT(clock.monotonicMs(), 20000);
}

TEST_F(HangingUp, duringTheWaitForTheModemsAnswerIsNotMistakenForItsOk)
{
    modemAttached = false;
    pump.runAfter(10000, [&] { dialer.hangUpModem(); });
    EXPECT_EQ(dial(), DialResult::HungUp);
    EXPECT_EQ(sent(), (Commands{"\r", "AT\r", "+++", "ATH0\r"}));
    EXPECT_EQ(label, "Okay");
    EXPECT_TRUE(hangupShownAfter.empty());
}
