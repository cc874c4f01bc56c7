#include "virtual_clock.h"

#include <cmath>

namespace ostrand {
namespace {

std::int64_t wrapToDay(std::int64_t us)
{
    constexpr std::int64_t kMicrosPerDay = 86'400'000'000;
    const std::int64_t r = us % kMicrosPerDay;
    return r < 0 ? r + kMicrosPerDay : r;
}

} // namespace

VirtualClock::VirtualClock(double secondsSinceMidnight) { setTimeOfDay(secondsSinceMidnight); }
double VirtualClock::secondsSinceMidnight() const { return static_cast<double>(wrapToDay(dayOffsetUs_ + elapsedUs_)) / 1e6; }
std::int64_t VirtualClock::monotonicMs() const { return elapsedUs_ / 1000; }

std::int64_t VirtualClock::utcMs() const
{
    constexpr std::int64_t k20260101Ms = 1'767'225'600'000;
    return k20260101Ms + (dayOffsetUs_ + elapsedUs_) / 1000;
}

void VirtualClock::advance(std::int64_t ms)
{
    if (ms > 0)
        elapsedUs_ += ms * 1000;
}

void VirtualClock::setTimeOfDay(double secondsSinceMidnight)
{
    dayOffsetUs_ = wrapToDay(static_cast<std::int64_t>(std::llround(secondsSinceMidnight * 1e6)) - elapsedUs_);
}

} // namespace ostrand
