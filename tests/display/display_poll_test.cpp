#include "display/display_block.h"
#include "display/display_poller.h"
#include "display/display_timers.h"
#include "display/flow_pattern.h"
#include "display/text_display.h"
#include "link_fixture.h"

#include <QTimer>
#include <QtEndian>
#include <limits>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// A 20-byte display block: flow and velocity as the meter's floats (IEEE
// singles, most significant byte first), the totals' bytes, the alarm value.
QByteArray displayBlock(float flow, float velocity, const char *forwardHex = "00000000",
                        const char *reverseHex = "00000000", float alarms = 0)
{
    const auto bytes = [](float value) {
        QByteArray out(4, '\0');
        qToBigEndian(qFromUnaligned<quint32>(&value), out.data());
        return out;
    };
    return bytes(flow) + bytes(velocity) + QByteArray::fromHex(forwardHex) +
           QByteArray::fromHex(reverseHex) + bytes(alarms);
}

using Lines = std::array<QString, kDisplayLineCount>;

// A meter on the fake port answering what the display polls ask: its text
// screen (registers 24-63), the key register 208 and the display block.
class DisplayPollTest : public LinkFixture {
protected:
    DisplayPollTest()
    {
        port.setResponder([this](const QByteArray &request, FakeSerialPort &p) {
            const auto function = static_cast<quint8>(request.at(1));
            QByteArray reply;
            if (function == 0x03) {
                const int start = static_cast<quint8>(request.at(3));
                if (reads.empty() || reads.back() != start) // resends count once
                    reads.push_back(start);
                if (start != silentLine)
                    reply = QByteArray::fromHex("010314") + screen.mid(2 * (start - 24), 20);
            } else if (function == 0x10) {
                keyWrites.append(request.at(7));
                if (writesAnswered)
                    reply = request.left(6);
            } else if (function == 0x63) {
                reply = QByteArray::fromHex("01630000") + block;
            }
            if (!reply.isEmpty())
                p.deliver(appendCrc(reply), replyDelayMs);
        });
        view.lines.fill(QStringLiteral("before"));
    }

    QByteArray screen = QByteArray("Line one of screen  Line two of screen  ") +
                        "Line three of screenLine four...        ";
    QByteArray block = displayBlock(1.5, 2, "00010000", "00000005", 9);
    int silentLine = -1;
    bool writesAnswered = true;
    int replyDelayMs = 20;
    std::vector<int> reads;
    QByteArray keyWrites; // the key of every write request sent, resends included

    struct YieldingView : DisplayLines {
        explicit YieldingView(EventPump &p) : pump(p) {}
        void setLine(int line, const QString &text) override { DisplayLines::setLine(line, text), pump.yield(); }
        EventPump &pump;
    } view{pump};
    DisplayPoller poller{link, view};
};

} // namespace

TEST_F(DisplayPollTest, aTextTickReadsTenRegistersPerLineFrom24AndALineWhoseReadFailsKeepsItsTextAndBytesAreCleaned)
{
    silentLine = 34;
    ASSERT_TRUE(poller.pollTextDisplay());
    EXPECT_EQ(reads, (std::vector<int>{24, 34, 44, 54}));
    EXPECT_EQ(port.sends()[0].bytes.toHex(), "01030018000a45ca");
    EXPECT_EQ(view.lines, (Lines{"Line one of screen  ", "before", "Line three of screen", "Line four...        ",
                                 "before"})) << "the alarm line is not the text display's";
    EXPECT_TRUE(keyWrites.isEmpty());

    // Bytes up to 10 and from 254 become byte 157; the rest and the length are kept.
    const QByteArray raw("\x00\x01\x0a\x0b Flow\x7f\x9d\xe9\xfd\xfe\xff", 15);
    EXPECT_EQ(cleanDisplayText(raw),
              QByteArray("\x9d\x9d\x9d\x0b Flow\x7f\x9d\xe9\xfd\x9d\x9d", 15));
    EXPECT_EQ(displayLineText(QByteArray("\xe9\xfe", 2)), QString(QChar(0xE9)) + QChar(0x9D));
}

TEST_F(DisplayPollTest, keysGoToRegister208OnePerTickInPressOrderAndAFailedOneIsRetriedFirst)
{
    for (const int button : {14, 12, 0}) // "Enter", "Menu", "1"
        ASSERT_TRUE(poller.pressKey(button));
    ASSERT_TRUE(poller.pollTextDisplay());
    EXPECT_EQ(poller.pendingKeys().codes(), "M1") << "Enter went first";

    writesAnswered = false;
    keyWrites.clear();
    pump.runAfter(5, [&] { poller.pressKey(7); }); // pressed while the write waits
    ASSERT_TRUE(poller.pollTextDisplay());
    EXPECT_FALSE(keyWrites.isEmpty());
    EXPECT_EQ(keyWrites, QByteArray(keyWrites.size(), 'M')) << "only the head key is tried";
    EXPECT_EQ(poller.pendingKeys().codes(), "M1N");
    EXPECT_EQ(reads.size(), 8u) << "the lines are read whatever became of the key";

    writesAnswered = true;
    keyWrites.clear();
    for (int tick = 0; tick < 3; ++tick)
        ASSERT_TRUE(poller.pollTextDisplay());
    EXPECT_EQ(keyWrites, "M1N");
    EXPECT_TRUE(poller.pendingKeys().isEmpty());

    writesAnswered = false; // a meter that never takes a key cannot grow the queue beyond 64
    for (int i = 0; i < 100; ++i)
        poller.pressKey(i % kKeypadButtons);
    ASSERT_TRUE(poller.pollTextDisplay());
    EXPECT_EQ(poller.pendingKeys().size(), 64);
    EXPECT_EQ(poller.pendingKeys().front(), '1');
}

TEST_F(DisplayPollTest, aBlockTickAsksWithFunction99AndShowsTheValuesInTheUnitsChosenDuringItsWaitIfTheReplyIsWhole)
{
    view.selected = {MeterType::Model8300, -1, -1, -1, -1};
    replyDelayMs = 300;
    pump.runAfter(100, [&] { view.selected = {MeterType::Model8300, 0, 0, 2, 1}; });
    ASSERT_TRUE(poller.pollDisplayBlock());
    ASSERT_EQ(port.sends().size(), 1u) << "its bytes are LinkTest's";
    EXPECT_EQ(view.lines, (Lines{"Flow = 673.25", "Velocity = 0.6096", "Forward Total = 30640.205824",
                                 "Reverse Total = 37.402595", " Setpoint 1  Lost Signal "}));

    view.selected.type = MeterType::Model8100;
    view.lines[3] = "";
    ASSERT_TRUE(poller.pollDisplayBlock());
    EXPECT_EQ(view.lines[3], "") << "the 8100 has no reverse total";

    // A short or corrupted reply leaves all five lines as they were.
    view.writes = 0;
    const QByteArray good = appendCrc(QByteArray::fromHex("01630000") + block);
    QByteArray badData = good;
    badData[10] = static_cast<char>(badData[10] ^ 1);
    for (const QByteArray &reply : {good.left(25), badData}) {
        port.setResponder([reply](const QByteArray &, FakeSerialPort &p) { p.deliver(reply); });
        ASSERT_TRUE(poller.pollDisplayBlock());
    }
    EXPECT_EQ(view.writes, 0);
}

TEST_F(DisplayPollTest, noTickStartsWhileAnotherTickHoldsTheLinkEvenBetweenItsExchanges)
{
    poller.pressKey(14);
    // The window's view lets events run as it shows each line, so a timer tick can come between exchanges.
    DisplayLines plain;
    DisplayPoller other(link, plain);
    int nestedTicks = 0, nestedRuns = 0;
    pump.onEachYield([&] {
        ++nestedTicks;
        nestedRuns += poller.pollTextDisplay() + poller.pollDisplayBlock() + other.poll(MeterType::R1900Portable);
    });
    ASSERT_TRUE(poller.pollTextDisplay());
    pump.clearHooks();
    EXPECT_GE(nestedTicks, 4);
    EXPECT_EQ(nestedRuns, 0);
    EXPECT_EQ(port.sends().size(), 5u) << "one key and four lines, nothing else";
    EXPECT_TRUE(other.poll(MeterType::Model8100)) << "the next tick runs";
}

TEST(FlowPattern, writesAtMostItsDecimalsRoundingHalvesOfTheShownDigitsAwayFromZero)
{
    const struct {
        double value;
        int decimals;
        const char *expected;
        // clang-format off
    } rows[] = {
        {12.375, 2, "12.38"}, {-12.375, 2, "-12.38"}, {12.3, 2, "12.3"}, {12, 2, "12."},
        {0.25, 2, ".25"}, {0, 2, "."}, {1.5, 0, "2."}, {2.5, 0, "3."}, {-2.5, 0, "-3."},
        {2.675, 2, "2.68"}, {999.995, 2, "1000."}, {0.0004, 3, "."}, {0.0005, 3, ".001"},
        {-1e-37, 1, "-."}, {1e37, 0, "10000000000000000000000000000000000000."},
        {std::numeric_limits<double>::infinity(), 2, "inf"},
    };
    // clang-format on
    for (const auto &row : rows)
        EXPECT_EQ(formatFlowPattern(row.value, row.decimals), row.expected)
            << row.value << "/" << row.decimals;
}

TEST(DisplayBlockDecoding, labelsEachValueInTheChosenUnitsAndListsTheSetAlarmBits)
{
    using S = DisplaySelection;
    const auto M8100 = MeterType::Model8100, M8300 = MeterType::Model8300, R1900 = MeterType::R1900Portable;
    const QString five = " Setpoint 1  Setpoint 2  Setpoint 3  Lost Signal  4-20 Loop#1 ";
    const struct {
        QByteArray block;
        S selection;
        int line;
        QString expected;
    } rows[] = {
        {displayBlock(1.5, 0), {M8100, 0, -1, 2, -1}, 0, "Flow = 673.25"},
        {displayBlock(1.5, 0), {M8100, 3, -1, 0, -1}, 0, "Flow = 2."},
        {displayBlock(1.5, 0), {M8100, 15, -1, 99, -1}, 0, "Flow = 1.5"}, // beyond the lists: as -1
        {displayBlock(0, 2), {M8100, -1, -1, 0, 1}, 1, "Velocity = 0.6096"}, // MPS shows 0.6096 for 2 ft/s
        // The second total byte weighs 4096.
        {displayBlock(0, 0, "00010000"), {M8100, -1, 5, -1, -1}, 2, "Forward Total = 4096"},
        {displayBlock(0, 0, "00010000"), {M8100, -1, 0, -1, -1}, 2, "Forward Total = 30640.205824"},
        {displayBlock(0, 0, "FFFFFFFF"), {M8100, -1, -1, -1, -1}, 2, "Forward Total = 17821695"},
        {displayBlock(0, 0, "00000001"), {M8100, -1, 6, -1, -1}, 2, "Forward Total = 2.2956E-05"},
        {displayBlock(0, 0, "00000000", "00010000"), {M8300, -1, 0, -1, -1}, 3, "Reverse Total = 30640.205824"},
        {displayBlock(0, 0, "00000000", "00000000", 64), {M8100}, kAlarmLine, ""},
        {displayBlock(0, 0, "00000000", "00000000", 9), {R1900}, kAlarmLine, " Setpoint 1  Lost Signal "},
        {displayBlock(0, 0, "00000000", "00000000", 6.9f), {M8100}, kAlarmLine, " Setpoint 2  Setpoint 3 "},
        {displayBlock(0, 0, "00000000", "00000000", 63), {R1900}, kAlarmLine, five},
        {displayBlock(0, 0, "00000000", "00000000", 63), {M8300}, kAlarmLine, five + " 4-20 Loop#2 "},
        // Beyond 32 bits, and below zero (the meter's negative zero is -1E-37): no bit is set.
        {displayBlock(0, 0, "00000000", "00000000", 2147483648.0f), {M8300}, kAlarmLine, ""},
        {displayBlock(0, 0, "00000000", "00000000", -0.0f), {M8300}, kAlarmLine, ""},
    };
    for (const auto &row : rows)
        EXPECT_EQ(decodeDisplayBlock(row.block, row.selection).lines[row.line].value_or("<not written>"), row.expected)
            << row.expected.toStdString();
}

TEST(DisplayTimers, runOnlyTheSelectedTypesTimerKeepingARunningOneAndTheAlarmLine)
{
    const auto begin = DisplayEvent::Begin, select = DisplayEvent::MeterTypeSelected,
               leave = DisplayEvent::LeftDisplayTab, stop = DisplayEvent::Stop;
    const auto M7700 = MeterType::Series7700, M8100 = MeterType::Model8100,
               M8300 = MeterType::Model8300, R1900 = MeterType::R1900Portable;
    // An operator's session: each event, the type then selected, the timers running after it.
    const struct {
        DisplayEvent event;
        MeterType type;
        TimerStates running;
        bool emptied;
    } rows[] = {
        {begin, M7700, {true, false, false}, true},   {begin, M7700, {true, false, false}, true},
        {leave, M7700, {false, false, false}, false}, {select, M8300, {false, false, false}, true},
        {begin, M8300, {false, true, false}, true},   {select, M8100, {false, true, false}, true},
        {leave, M8100, {false, false, false}, false}, {begin, M8100, {false, true, false}, true},
        {select, R1900, {false, false, true}, true},  {leave, R1900, {false, false, true}, false},
        {begin, R1900, {false, false, true}, true},   {stop, R1900, {false, false, false}, false},
        {begin, R1900, {false, false, true}, true},   {select, M7700, {false, false, false}, true},
        {begin, M7700, {true, false, false}, true},   {stop, M7700, {false, false, false}, false},
    };
    QTimer timers[3];
    DisplayLines lines;
    for (const auto &row : rows) {
        lines.lines = {"x", "x", "x", "x", "alarm"};
        applyDisplayTransition(displayTransition(row.event, row.type), timers[0], timers[1],
                               timers[2], lines);
        const int at = int(&row - rows);
        EXPECT_EQ((TimerStates{timers[0].isActive(), timers[1].isActive(), timers[2].isActive()}),
                  row.running)
            << at;
        const QString left = row.emptied ? "" : "x";
        EXPECT_EQ(lines.lines, (std::array<QString, 5>{left, left, left, left, "alarm"})) << at;
    }
}
