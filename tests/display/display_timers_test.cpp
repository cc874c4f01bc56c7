#include "display/display_timers.h"
#include "display/display_view.h"
#include "display/meter_type.h"
#include "qt_printers.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace ostrand;

namespace {

constexpr TimerChange K = TimerChange::Keep, On = TimerChange::Start, Off = TimerChange::Stop;
constexpr auto M7700 = MeterType::Series7700, M8100 = MeterType::Model8100,
               M8300 = MeterType::Model8300, R1900 = MeterType::R1900Portable;

} // namespace

TEST(DisplayTimers, eachEventChangesTheTimersAndLinesAsTheStateTableSays)
{
    const auto begin = DisplayEvent::Begin, select = DisplayEvent::MeterTypeSelected,
               leave = DisplayEvent::LeftDisplayTab;
    const struct {
        DisplayEvent event;
        MeterType type;
        std::array<TimerChange, 3> timers;
        bool empty;
    } rows[] = {
        {begin, M7700, {On, Off, K}, true},   {begin, M8100, {Off, On, K}, true},
        {begin, M8300, {Off, On, K}, true},   {begin, R1900, {K, K, K}, true},
        {select, M7700, {K, Off, Off}, true}, {select, M8100, {Off, K, Off}, true},
        {select, M8300, {Off, K, Off}, true}, {select, R1900, {Off, Off, On}, true},
        {leave, M7700, {Off, Off, K}, false}, {leave, R1900, {Off, Off, K}, false},
    };
    for (const auto &row : rows) {
        const DisplayTransition t = displayTransition(row.event, row.type);
        EXPECT_EQ(t.timers, row.timers) << int(row.event) << "/" << int(row.type);
        EXPECT_EQ(t.emptyMeterLines, row.empty) << int(row.event) << "/" << int(row.type);
    }
}

TEST(DisplayTimers, runAtMostOneTimerAndOnlyTheSelectedTypesWhateverTheOperatorDoes)
{
    // Every sequence of five actions: 0 "Begin", 1 leaving the tab, 2-5 selecting type 0-3.
    for (int sequence = 0; sequence < 6 * 6 * 6 * 6 * 6; ++sequence) {
        MeterType selected = M7700;
        TimerStates running{false, false, false};
        for (int step = 0, rest = sequence; step < 5; ++step, rest /= 6) {
            const int action = rest % 6;
            if (action >= 2)
                selected = static_cast<MeterType>(action - 2);
            const DisplayEvent event = action == 0   ? DisplayEvent::Begin
                                       : action == 1 ? DisplayEvent::LeftDisplayTab
                                                     : DisplayEvent::MeterTypeSelected;
            running = timersAfter(running, displayTransition(event, selected));
            ASSERT_LE(running[0] + running[1] + running[2], 1) << sequence;
            for (int timer = 0; timer < 3; ++timer) {
                if (running[timer]) {
                    ASSERT_EQ(meterTypeInfo(selected).timer, timer + 1) << sequence;
                }
            }
        }
    }
}

TEST(DisplayTimers, applyToTheWindowsTimersKeepingARunningOneAndTheAlarmLine)
{
    QTimer timer1, timer2, timer3;
    timer1.setInterval(750);
    DisplayLines lines;
    lines.lines = {"1", "2", "3", "4", "alarm"};
    const auto on = [&](DisplayEvent event, MeterType type) {
        applyDisplayTransition(displayTransition(event, type), timer1, timer2, timer3, lines);
        return TimerStates{timer1.isActive(), timer2.isActive(), timer3.isActive()};
    };
    EXPECT_EQ(on(DisplayEvent::Begin, M7700), (TimerStates{true, false, false}));
    EXPECT_EQ(lines.lines, (std::array<QString, 5>{"", "", "", "", "alarm"}));
    lines.lines[0] = "polled";
    EXPECT_EQ(on(DisplayEvent::Begin, M7700), (TimerStates{true, false, false}));
    EXPECT_EQ(timer1.interval(), 750);
    EXPECT_EQ(lines.lines[0], "");

    lines.lines[0] = "last value";
    EXPECT_EQ(on(DisplayEvent::LeftDisplayTab, M7700), (TimerStates{false, false, false}));
    EXPECT_EQ(lines.lines[0], "last value");
    EXPECT_EQ(on(DisplayEvent::MeterTypeSelected, R1900), (TimerStates{false, false, true}));
    EXPECT_EQ(on(DisplayEvent::LeftDisplayTab, R1900), (TimerStates{false, false, true}));
    EXPECT_EQ(on(DisplayEvent::MeterTypeSelected, M8300), (TimerStates{false, false, false}));
    EXPECT_EQ(on(DisplayEvent::Begin, M8300), (TimerStates{false, true, false}));
    EXPECT_EQ(on(DisplayEvent::MeterTypeSelected, M8100), (TimerStates{false, true, false}));
    EXPECT_EQ(on(DisplayEvent::MeterTypeSelected, M7700), (TimerStates{false, false, false}));
}

TEST(MeterTypes, decideThePollTheControlsShownAndTheStoredValue)
{
    const struct {
        const char *caption;
        int timer, periodMs;
        bool startsOnSelection, keypad, units, reverse, loop2;
        int setting;
    } rows[] = {
        {"7700 Series", 1, 750, false, true, false, false, false, 0},
        {"8100 ", 2, 1000, false, false, true, false, false, 1},
        {"8300 ", 2, 1000, false, false, true, true, true, 2},
        {"R1900 Portable", 3, 1000, true, false, true, false, false, 0},
    };
    for (int i = 0; i < kMeterTypeCount; ++i) {
        const MeterTypeInfo &info = meterTypeInfo(*meterTypeFromIndex(i));
        EXPECT_STREQ(info.caption, rows[i].caption);
        EXPECT_EQ(info.poll, i == 0 ? PollKind::TextDisplay : PollKind::DisplayBlock);
        EXPECT_EQ(std::make_tuple(info.timer, info.periodMs, displayTimerPeriodMs(info.timer)),
                  std::make_tuple(rows[i].timer, rows[i].periodMs, rows[i].periodMs));
        EXPECT_EQ(std::make_tuple(info.startsOnSelection, info.keypadVisible,
                                  info.unitControlsVisible, info.showsReverseTotal,
                                  info.showsLoop2Alarm, info.settingValue),
                  std::make_tuple(rows[i].startsOnSelection, rows[i].keypad, rows[i].units,
                                  rows[i].reverse, rows[i].loop2, rows[i].setting))
            << i;
    }
    EXPECT_EQ(meterTypeFromIndex(4), std::nullopt);
    for (const auto &[stored, type] : {std::pair{1, M8100}, {2, M8300}, {3, M7700}, {5, M7700}})
        EXPECT_EQ(meterTypeFromSetting(stored), type) << stored;
}
