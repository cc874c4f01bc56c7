#include "virtual_clock.h"

#include <cmath>

namespace ostrand {
namespace {

std::int64_t wrapToDay(std::int64_t us)
{
    const std::int64_t r = us % VirtualClock::kMicrosPerDay;
    return r < 0 ? r + VirtualClock::kMicrosPerDay : r;
}

} // namespace

VirtualClock::VirtualClock(double secondsSinceMidnight)
{
    setTimeOfDay(secondsSinceMidnight);
}

double VirtualClock::secondsSinceMidnight() const
{
    return static_cast<double>(wrapToDay(dayOffsetUs_ + elapsedUs_)) / 1e6;
}

std::int64_t VirtualClock::monotonicMs() const
{
    return elapsedUs_ / 1000;
}

std::int64_t VirtualClock::utcMs() const
{
    constexpr std::int64_t k20260101Ms = 1'767'225'600'000;
    return k20260101Ms + (dayOffsetUs_ + elapsedUs_) / 1000;
}

void VirtualClock::advance(std::int64_t ms)
{
    advanceMicros(ms * 1000);
}

void VirtualClock::advanceMicros(std::int64_t us)
{
    if (us > 0)
        elapsedUs_ += us;
}

void VirtualClock::setTimeOfDay(double secondsSinceMidnight)
{
    const auto wanted = static_cast<std::int64_t>(std::llround(secondsSinceMidnight * 1e6));
    dayOffsetUs_ = wrapToDay(wanted - elapsedUs_);
}

} // namespace ostrand
