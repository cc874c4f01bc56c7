#include "station_time.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace ostrand::collect {
namespace {

constexpr qint64 kSecondsPerDay = 86400;

// The local wall time read as if it were UTC: the arithmetic ground for offsets.
qint64 naiveSeconds(const QDateTime &local)
{
    return QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch();
}

} // namespace

StationTime::StationTime(const QTimeZone &zone, MeterClock clock, std::optional<QDateTime> previousUtc)
    : zone_(zone), clock_(clock), previousUtc_(std::move(previousUtc))
{
}

QDateTime StationTime::toUtc(const QDateTime &local)
{
    const qint64 naive = naiveSeconds(local);
    const QDateTime naiveUtc = QDateTime::fromSecsSinceEpoch(naive, Qt::UTC);
    if (clock_ == MeterClock::Standard) {
        const QDateTime utc = QDateTime::fromSecsSinceEpoch(naive - zone_.standardTimeOffset(naiveUtc), Qt::UTC);
        previousUtc_ = utc;
        return utc;
    }
    if (const qint64 utc = naive - steadyOffset_; utc >= steadyFrom_ && utc < steadyTo_) {
        previousUtc_ = QDateTime::fromSecsSinceEpoch(utc, Qt::UTC);
        return *previousUtc_;
    }
    // Every offset in force within a day of the stamp; those that give back the
    // stamp are its readings. Transitions are never that close together.
    std::vector<qint64> candidates;
    for (const qint64 probe : {naive - kSecondsPerDay, naive, naive + kSecondsPerDay}) {
        const int offset = zone_.offsetFromUtc(QDateTime::fromSecsSinceEpoch(probe, Qt::UTC));
        const qint64 utc = naive - offset;
        if (zone_.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utc, Qt::UTC)) == offset
            && std::find(candidates.begin(), candidates.end(), utc) == candidates.end())
            candidates.push_back(utc);
    }
    std::sort(candidates.begin(), candidates.end());
    qint64 chosen;
    if (candidates.empty()) {
        ++skippedHourStamps_;
        chosen = naive - zone_.standardTimeOffset(naiveUtc);
    } else {
        const qint64 after = previousUtc_ ? previousUtc_->toSecsSinceEpoch() : std::numeric_limits<qint64>::min();
        const auto later = std::find_if(candidates.begin(), candidates.end(), [&](qint64 c) { return c > after; });
        // None later: a clock set back, or the log collected again; the first reading is the usual one.
        chosen = later == candidates.end() ? candidates.front() : *later;
    }
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(chosen, Qt::UTC);
    previousUtc_ = utc;
    if (candidates.size() == 1)
        noteSteadySpan(utc);
    return utc;
}

void StationTime::noteSteadySpan(const QDateTime &utc)
{
    const QTimeZone::OffsetData before = zone_.previousTransition(utc.addSecs(1));
    const QTimeZone::OffsetData after = zone_.nextTransition(utc);
    constexpr qint64 kNoEnd = std::numeric_limits<qint64>::max() / 2;
    const qint64 from = before.atUtc.isValid() ? before.atUtc.toSecsSinceEpoch() : -kNoEnd;
    const qint64 to = after.atUtc.isValid() ? after.atUtc.toSecsSinceEpoch() : kNoEnd;
    steadyOffset_ = zone_.offsetFromUtc(utc);
    steadyFrom_ = from + kSecondsPerDay;
    steadyTo_ = to - kSecondsPerDay;
}

} // namespace ostrand::collect
