#include "display_timers.h"

#include "display/display_view.h"

#include <QTimer>

namespace ostrand {
namespace {

constexpr TimerChange K = TimerChange::Keep;
constexpr TimerChange On = TimerChange::Start;
constexpr TimerChange Off = TimerChange::Stop;

DisplayTransition beginTransition(MeterType selected)
{
    switch (meterTypeInfo(selected).timer) {
    case 1:
        return {{On, Off, K}, true};
    case 2:
        return {{Off, On, K}, true};
    // The portable's poll runs from its selection; Begin is how it comes back after a Stop.
    default:
        return {{Off, Off, On}, true};
    }
}

// Selecting a type stops the polls of the other kinds; the portable's starts at
// once, while a stopped 7700 or 8100/8300 poll waits for "Begin".
DisplayTransition selectionTransition(MeterType selected)
{
    switch (meterTypeInfo(selected).timer) {
    case 1:
        return {{K, Off, Off}, true};
    case 2:
        return {{Off, K, Off}, true};
    default:
        return {{Off, Off, On}, true};
    }
}

} // namespace

DisplayTransition displayTransition(DisplayEvent event, MeterType selected)
{
    switch (event) {
    case DisplayEvent::Begin:
        return beginTransition(selected);
    case DisplayEvent::MeterTypeSelected:
        return selectionTransition(selected);
    // The portable keeps polling on the other tabs; its ticks wait while a
    // download or a dial holds the link.
    case DisplayEvent::LeftDisplayTab:
        return {{Off, Off, K}, false};
    case DisplayEvent::Stop:
        return {{Off, Off, Off}, false};
    }
    return {};
}

void applyDisplayTransition(const DisplayTransition &transition, QTimer &timer1, QTimer &timer2,
                            QTimer &timer3, DisplayView &view)
{
    QTimer *timers[] = {&timer1, &timer2, &timer3};
    for (std::size_t i = 0; i < 3; ++i) {
        if (transition.timers[i] == TimerChange::Start && !timers[i]->isActive())
            timers[i]->start();
        else if (transition.timers[i] == TimerChange::Stop)
            timers[i]->stop();
    }
    if (transition.emptyMeterLines) {
        for (int line = 0; line < 4; ++line)
            view.setLine(line, QString());
    }
}

} // namespace ostrand
