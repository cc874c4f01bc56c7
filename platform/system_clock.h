#pragma once

#include "clock.h"

#include <QElapsedTimer>
#include <atomic>

namespace ostrand {

// The computer's own clocks: local time of day and a monotonic timer.
class SystemClock : public Clock {
public:
    SystemClock();

    // Local time of day, to the millisecond. The zone's offset is looked up
    // at most once a second: the C library looks at the zone file on every
    // local time, and the link asks for the time with every byte it reads, so
    // a hundred lines at once spent most of their processor time there.
    double secondsSinceMidnight() const override;
    // Milliseconds since this clock was made.
    std::int64_t monotonicMs() const override;

private:
    QElapsedTimer elapsed_;
    // One clock may be read from several threads; a stale pair costs at most a second's lag.
    mutable std::atomic<int> offsetSeconds_{0};
    mutable std::atomic<qint64> offsetCheckDueMs_{0};
};

} // namespace ostrand
