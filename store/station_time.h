#pragma once

#include <QDateTime>
#include <QTimeZone>
#include <optional>

namespace ostrand::collect {

// How a meter's clock is kept.
enum class MeterClock {
    Local,    // follows the zone's daylight saving
    Standard, // on the zone's standard time all year
};

// Turns a station's local stamps, in the order the meter logged them, into
// UTC. The meter writes wall-clock time with no offset, so in autumn an hour
// comes twice: a stamp that could be either is taken as the earliest UTC
// time after the previous stamp (the station's last stored reading for the
// first one), so the second 01:15 lands an hour after the first even across
// runs. A stamp in the hour spring skips cannot have been a real wall-clock
// time; it is taken at the standard offset and counted.
class StationTime {
public:
    StationTime(const QTimeZone &zone, MeterClock clock, std::optional<QDateTime> previousUtc);

    QDateTime toUtc(const QDateTime &local);
    int skippedHourStamps() const { return skippedHourStamps_; }

private:
    void noteSteadySpan(const QDateTime &utc);

    QTimeZone zone_;
    MeterClock clock_;
    std::optional<QDateTime> previousUtc_;
    int skippedHourStamps_ = 0;
    // Seconds since 1970 over which the zone keeps one offset with no change
    // within a day either side: stamps there have one reading, found without
    // asking the zone again.
    qint64 steadyFrom_ = 0;
    qint64 steadyTo_ = -1;
    int steadyOffset_ = 0;
};

} // namespace ostrand::collect
