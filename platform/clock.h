#pragma once

#include <chrono>
#include <cstdint>

namespace ostrand {

// Time as the waiting code needs it. The meter protocol's rules are written in
// time of day, but a wait must also end on time across midnight, hence both.
class Clock {
public:
    virtual ~Clock() = default;

    // Local time of day in seconds since midnight, with its fraction (0 <= t < 86400).
    virtual double secondsSinceMidnight() const = 0;
    // Milliseconds from an arbitrary origin; never goes back, unaffected by clock changes.
    virtual std::int64_t monotonicMs() const = 0;
    // The wall clock, milliseconds since 1970 UTC: for stamps on what is kept, never for a wait.
    virtual std::int64_t utcMs() const
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
};

} // namespace ostrand
