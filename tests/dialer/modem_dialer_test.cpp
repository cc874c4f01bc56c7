#include "link/modem_dialer.h"
#include "tests/link/link_fixture.h"

#include <algorithm>
#include <optional>
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

// What else happens during a dial, and when (meddleAtMs).
enum class Meddle { None, Midnight, HangUp, LabelOk, DialAgain, PortFails, LinkHeld };

struct DialRow {
    const char *what;
    bool attached;
    const char *ok, *connect; // the modem's spellings; connect empty: the dial is never answered
    int connectDelayMs, bytesPerSecond;
    Meddle meddle;
    int meddleAtMs;
    DialResult result;
    Commands commands;
    const char *status;
    QByteArray timedFrom; // the command the dial's length is measured from; empty: from the start
    int minMs, maxMs;
};

const Commands kDialled{"\r", "AT\r", "ATDT 1\r"}, kWoken{"\r", "AT\r"};
const char *const kConnected = "\r\nATDT 1\r\r\nCONNECT 9600\r\n", *const kFailed = "Could not connect";
const DialRow kDialRows[] = {
    {"connects", true, "OK", "CONNECT", 2000, 960, Meddle::None, 0, DialResult::Connected, kDialled, kConnected, "ATDT 1\r", 5000, 5100},
    {"Ok/Connect", true, "Ok", "Connect", 2000, 960, Meddle::None, 0, DialResult::Connected, kDialled, nullptr, "ATDT 1\r", 5000, 5100},
    {"oK is no OK", true, "oK", "CONNECT", 2000, 960, Meddle::None, 0, DialResult::CouldNotConnect, kWoken, kFailed, "AT\r", 90001, 90020},
    {"connect is no CONNECT", true, "OK", "connect", 2000, 960, Meddle::None, 0, DialResult::CouldNotConnect, kDialled, kFailed, "ATDT 1\r", 90001, 90030},
    {"no OK in 90 s", false, "OK", "CONNECT", 0, 960, Meddle::None, 0, DialResult::CouldNotConnect, kWoken, kFailed, "AT\r", 90001, 90020},
    // The modem's final refusal ends the dial when its line is complete, and lets the port go.
    {"BUSY", true, "OK", "BUSY", 2000, 960, Meddle::None, 0, DialResult::CouldNotConnect, kDialled, "Could not connect: BUSY", "ATDT 1\r", 2008, 2030},
    {"NO CARRIER after 30 s", true, "OK", "NO CARRIER", 30000, 960, Meddle::None, 0, DialResult::CouldNotConnect, kDialled, "Could not connect: NO CARRIER", "ATDT 1\r", 30010, 30030},
    {"NO ANSWER", true, "OK", "NO ANSWER", 2000, 960, Meddle::None, 0, DialResult::CouldNotConnect, kDialled, "Could not connect: NO ANSWER", "ATDT 1\r", 2008, 2030},
    {"NO DIALTONE", true, "OK", "NO DIALTONE", 500, 960, Meddle::None, 0, DialResult::CouldNotConnect, kDialled, "Could not connect: NO DIALTONE", "ATDT 1\r", 508, 530},
    {"ERROR", true, "OK", "ERROR", 100, 960, Meddle::None, 0, DialResult::CouldNotConnect, kDialled, "Could not connect: ERROR", "ATDT 1\r", 105, 130},
    {"BUSY on a slow modem", true, "OK", "BUSY", 2000, 4, Meddle::None, 0, DialResult::CouldNotConnect, kDialled, "Could not connect: BUSY", "ATDT 1\r", 3750, 4010},
    {"a word only like a refusal", true, "OK", "BUSY SIGNAL", 2000, 960, Meddle::None, 0, DialResult::CouldNotConnect, kDialled, kFailed, "ATDT 1\r", 90001, 90030},
    {"a connect just before 90 s", true, "OK", "CONNECT", 89000, 960, Meddle::None, 0, DialResult::Connected, kDialled, kConnected, "ATDT 1\r", 92001, 92100},
    // The 3 s for the line speed count from the whole word, not its first byte.
    {"a slow modem", true, "OK", "CONNECT", 2000, 4, Meddle::None, 0, DialResult::Connected, kDialled, kConnected, "ATDT 1\r", 7501, 7520},
    {"midnight", false, "OK", "CONNECT", 0, 960, Meddle::Midnight, 40000, DialResult::CouldNotConnect, kWoken, kFailed, "AT\r", 90001, 90020},
    {"hang-up waiting for OK", false, "OK", "CONNECT", 0, 960, Meddle::HangUp, 10000, DialResult::HungUp, {"\r", "AT\r", "+++", "ATH0\r"}, "Okay", "AT\r", 0, 20000},
    {"hang-up waiting for CONNECT", true, "OK", "", 0, 960, Meddle::HangUp, 10000, DialResult::HungUp, {"\r", "AT\r", "ATDT 1\r", "+++", "ATH0\r"}, "Okay", "AT\r", 0, 20000},
    // Whoever wrote the modem's answer on the status line, the dial goes on.
    {"OK written by another", false, "OK", "CONNECT", 0, 960, Meddle::LabelOk, 5000, DialResult::CouldNotConnect, kDialled, kFailed, "ATDT 1\r", 90001, 90030},
    {"dialled again meanwhile", true, "OK", "CONNECT", 2000, 960, Meddle::DialAgain, 1500, DialResult::Connected, kDialled, kConnected, "ATDT 1\r", 5000, 5100},
    {"the port will not open", true, "OK", "CONNECT", 2000, 960, Meddle::PortFails, 0, DialResult::PortNotOpen, {}, "Okay", "", 0, 0},
    {"a download holds the link", true, "OK", "CONNECT", 2000, 960, Meddle::LinkHeld, 0, DialResult::Busy, {}, "Okay", "", 0, 0},
};

class DialOutcome : public DialerTest, public ::testing::WithParamInterface<DialRow> {};

TEST_P(DialOutcome, endsAsTheModemsAnswersTheNinetySecondWaitsARefusalOrAHangUpDecide)
{
    const DialRow &row = GetParam();
    SCOPED_TRACE(row.what);
    modemAttached = row.attached;
    okReply = QByteArray("\r\n") + row.ok + "\r\n";
    // A connect report carries the line speed; a refusal is the bare word.
    const bool speed = QByteArray(row.connect).toUpper().startsWith("CONNECT");
    dialResult = *row.connect ? QByteArray("\r\n") + row.connect + (speed ? " 9600" : "") + "\r\n" : QByteArray();
    connectDelayMs = row.connectDelayMs;
    bytesPerSecond = row.bytesPerSecond;
    DialResult nested = DialResult::Connected;
    std::optional<MeterLink::Hold> download;
    switch (row.meddle) {
    case Meddle::None: break;
    case Meddle::Midnight:
        clock.setTimeOfDay(86400 - 30);
        pump.runAfter(row.meddleAtMs, [&] { clock.setTimeOfDay(3600); });
        break;
    case Meddle::HangUp: pump.runAfter(row.meddleAtMs, [&] { dialer.hangUpModem(); }); break;
    case Meddle::LabelOk: pump.runAfter(row.meddleAtMs, [&] { label = QStringLiteral("OK"); }); break;
    case Meddle::DialAgain:
        pump.runAfter(row.meddleAtMs, [&] {
            EXPECT_TRUE(link.isBusy()) << "display polls must stay off the line during a dial";
            nested = dial("2");
        });
        break;
    case Meddle::PortFails: port.failOpenWith(QStringLiteral("in use")); break;
    case Meddle::LinkHeld: download.emplace(link); break;
    }
    // A wait that would not end by itself ends with a hang-up, and the row fails instead of hanging.
    pump.runAfter(200000, [&] { dialer.hangUpModem(); });
    EXPECT_EQ(dial(), row.result);
    EXPECT_EQ(nested == DialResult::Busy, row.meddle == Meddle::DialAgain);
    EXPECT_EQ(sent(), row.commands);
    EXPECT_TRUE(!row.status || label == row.status) << label.toStdString();
    const std::int64_t took = clock.monotonicMs() - (row.timedFrom.isEmpty() ? 0 : sentAtMs(row.timedFrom));
    EXPECT_TRUE(took >= row.minMs && took <= row.maxMs) << took;
    const bool refused = row.status && QString::fromLatin1(row.status).startsWith("Could not connect: ");
    const bool opened = row.result == DialResult::Connected || (row.result == DialResult::CouldNotConnect && !refused);
    EXPECT_EQ(port.isOpen(), opened) << "only a hang-up or the modem's refusal closes the port";
    const bool numberSent = std::count(row.commands.begin(), row.commands.end(), "ATDT 1\r") > 0;
    EXPECT_EQ(hangupShownAfter.empty(), !numberSent) << "\"Hangup\" is offered once the number went out";
    for (std::size_t i = 1; i < statuses.size(); ++i) {
        if (!statuses[i - 1].isEmpty() && statuses[i].startsWith(statuses[i - 1])) {
            EXPECT_EQ(statuses[i].size(), statuses[i - 1].size() + 1) << "the modem's answer shows byte by byte";
        }
    }
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
