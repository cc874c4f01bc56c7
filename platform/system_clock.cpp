#include "system_clock.h"

#include <QTime>

namespace ostrand {

SystemClock::SystemClock()
{
    elapsed_.start();
}

double SystemClock::secondsSinceMidnight() const
{
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

std::int64_t SystemClock::monotonicMs() const
{
    return elapsed_.elapsed();
}

} // namespace ostrand
