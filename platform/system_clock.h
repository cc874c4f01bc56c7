#pragma once

#include "clock.h"

#include <QElapsedTimer>

namespace ostrand {

// The computer's own clocks: local time of day and a monotonic timer.
class SystemClock : public Clock {
public:
    SystemClock();

    // Local time of day, to the millisecond.
    double secondsSinceMidnight() const override;
    // Milliseconds since this clock was made.
    std::int64_t monotonicMs() const override;

private:
    QElapsedTimer elapsed_;
};

} // namespace ostrand
