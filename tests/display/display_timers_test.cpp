#include "display/display_timers.h"
#include "display/display_view.h"
#include "display/meter_type.h"
#include "qt_printers.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace ostrand;

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
