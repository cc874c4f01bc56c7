#pragma once

#include "platform/clock.h"

#include <cstdint>

namespace ostrand {

// A Clock that moves only when a test (or the virtual event pump) says so.
// Time is kept in whole microseconds, so thousands of 1 ms steps add up exactly.
class VirtualClock : public Clock {
public:
    // Starts at `secondsSinceMidnight` (noon by default) with the monotonic time at 0.
    explicit VirtualClock(double secondsSinceMidnight = 12 * 3600.0);

    // Time of day; wraps to 0 at midnight.
    double secondsSinceMidnight() const override;
    // Milliseconds advanced since construction (whole ones, rounded down).
    std::int64_t monotonicMs() const override;
    // 2026-01-01 (UTC) at the time of day, moving with it.
    std::int64_t utcMs() const override;

    // Lets `ms` milliseconds pass on both clocks (negative values are ignored).
    void advance(std::int64_t ms);
    // Microseconds advanced since construction.
    std::int64_t monotonicMicros() const { return elapsedUs_; }
    // Sets the time of day as a user changing the system clock would; monotonic time is kept.
    void setTimeOfDay(double secondsSinceMidnight);

private:
    std::int64_t dayOffsetUs_ = 0; // time of day when elapsedUs_ was 0
    std::int64_t elapsedUs_ = 0;
};

} // namespace ostrand
