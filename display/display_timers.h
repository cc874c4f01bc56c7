#pragma once

#include "display/meter_type.h"

#include <array>

class QTimer;

namespace ostrand {

class DisplayView;

// What starts and stops the three display timers.
enum class DisplayEvent {
    Begin,             // the "Begin" button
    MeterTypeSelected, // a meter type option became selected
    LeftDisplayTab,    // the tabs moved away from "Display Meter"
    Stop,              // "Stop" (the "Begin" button while a poll runs), and exit
};

enum class TimerChange { Keep, Start, Stop };

// The effect of one event: a change for each of timers 1, 2 and 3 (index 0 to
// 2), and whether the four meter lines are emptied (the alarm line never is).
struct DisplayTransition {
    std::array<TimerChange, 3> timers{TimerChange::Keep, TimerChange::Keep, TimerChange::Keep};
    bool emptyMeterLines = false;
};

// Which of timers 1, 2 and 3 run (index 0 to 2).
using TimerStates = std::array<bool, 3>;

// The transition for `event` while `selected` is (or has just become) the meter type.
DisplayTransition displayTransition(DisplayEvent event, MeterType selected);

// Applies `transition` to the window's timers and lines. A timer told to start
// while it runs keeps running undisturbed; the timers' periods are not touched.
void applyDisplayTransition(const DisplayTransition &transition, QTimer &timer1, QTimer &timer2,
                            QTimer &timer3, DisplayView &view);

} // namespace ostrand
