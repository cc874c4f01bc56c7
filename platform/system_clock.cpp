#include "system_clock.h"

#include <QDateTime>

namespace ostrand {

SystemClock::SystemClock()
{
    elapsed_.start();
}

double SystemClock::secondsSinceMidnight() const
{
    constexpr qint64 kDayMs = 86400000;
    const qint64 utcMs = QDateTime::currentMSecsSinceEpoch();
    if (utcMs >= offsetCheckDueMs_.load(std::memory_order_relaxed)) {
        offsetSeconds_.store(QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc(), std::memory_order_relaxed);
        offsetCheckDueMs_.store(utcMs + 1000, std::memory_order_relaxed);
    }
    const qint64 localMs = utcMs + offsetSeconds_.load(std::memory_order_relaxed) * qint64(1000);
    return ((localMs % kDayMs + kDayMs) % kDayMs) / 1000.0;
}

std::int64_t SystemClock::monotonicMs() const
{
    return elapsed_.elapsed();
}

} // namespace ostrand
