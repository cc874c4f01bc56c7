#pragma once

#include "platform/clock.h"

#include <cmath>
#include <cstdint>

namespace ostrand {

// The meters' timing rules are written in time of day (seconds since
// midnight, start times rounded to whole seconds). This clock reads the time
// of day once, then advances on the monotonic clock, so the same rules hold
// and still end on time when a wait runs across midnight.
class WaitClock {
public:
    explicit WaitClock(const Clock &clock)
        : clock_(clock), startOfDay_(clock.secondsSinceMidnight()), startMs_(clock.monotonicMs())
    {
    }

    // Seconds since the midnight before the wait began, with their fraction.
    double now() const { return at(clock_.monotonicMs()); }
    // The same, rounded to the nearest whole second, as start times are taken.
    double roundedNow() const { return std::nearbyint(now()); }
    // A monotonic instant on this clock's scale.
    double at(std::int64_t monotonicMs) const
    {
        return startOfDay_ + static_cast<double>(monotonicMs - startMs_) / 1000.0;
    }

private:
    const Clock &clock_;
    double startOfDay_;
    std::int64_t startMs_;
};

} // namespace ostrand
