#include "daily_summary.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

namespace ostrand::survey {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr qint64 kHourMs = 3600 * 1000;

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

qint64 ceilDiv(qint64 a, qint64 b)
{
    return -floorDiv(-a, b);
}

// A series with no zone is taken in UTC rather than in whatever zone the machine has.
QTimeZone usableZone(const QTimeZone &zone)
{
    return zone.isValid() ? zone : QTimeZone(0);
}

QDate localDate(qint64 ms, const QTimeZone &zone)
{
    return QDateTime::fromMSecsSinceEpoch(ms, zone).date();
}

// The day's first instant; startOfDay copes with a zone whose clocks change at midnight.
qint64 midnight(const QDate &date, const QTimeZone &zone)
{
    return date.startOfDay(zone).toMSecsSinceEpoch();
}

// The local hour 06:00 ends the night; should it fall in a clock change, six hours on.
qint64 nightEnd(const QDate &date, qint64 dayStart, const QTimeZone &zone)
{
    const QDateTime six(date, QTime(6, 0), zone);
    return six.isValid() ? six.toMSecsSinceEpoch() : dayStart + 6 * kHourMs;
}

// The minimum of the hourly means from the day's start to the end of the
// night. Hours are real hours, so a repeated clock hour is an hour of its own.
double minimumNightFlow(const SurveySeries &series, size_t first, size_t last, qint64 dayStart)
{
    std::vector<double> sums, counts;
    for (size_t i = first; i < last; ++i) {
        if (!std::isfinite(series.flow[i]))
            continue;
        const size_t hour = size_t((series.utcMs[i] - dayStart) / kHourMs);
        if (hour >= sums.size()) {
            sums.resize(hour + 1, 0);
            counts.resize(hour + 1, 0);
        }
        sums[hour] += series.flow[i];
        counts[hour] += 1;
    }
    double lowest = kNaN;
    for (size_t h = 0; h < sums.size(); ++h)
        if (counts[h] > 0 && !(sums[h] / counts[h] >= lowest))
            lowest = sums[h] / counts[h];
    return lowest;
}

// The distinct steps (anchor + k x step) the readings in [first, last) lie on:
// a reading counts for its nearest step, so a meter clock a few seconds out still counts.
std::vector<qint64> stepsLogged(const SurveySeries &series, size_t first, size_t last,
                                qint64 anchor, qint64 step, qint64 kFirst, qint64 kEnd)
{
    std::vector<qint64> steps;
    for (size_t i = first; i < last; ++i) {
        const qint64 k = floorDiv(series.utcMs[i] - anchor + step / 2, step);
        if (k >= kFirst && k < kEnd && (steps.empty() || steps.back() != k))
            steps.push_back(k);
    }
    return steps;
}

std::vector<Gap> gapsBetween(const std::vector<qint64> &steps, qint64 anchor, qint64 step,
                             qint64 kFirst, qint64 kEnd, const SummaryPeriod &period)
{
    std::vector<Gap> gaps;
    auto add = [&](qint64 from, qint64 to) { // missing steps from..to inclusive
        if (to >= from)
            gaps.push_back({anchor + from * step, anchor + to * step,
                            int(std::min<qint64>(to - from + 1, std::numeric_limits<int>::max()))});
    };
    if (steps.empty()) {
        if (period.fromUtcMs && period.toUtcMs)
            add(kFirst, kEnd - 1);
        return gaps;
    }
    // Before the first reading and after the last is a gap only where the
    // period says the log should have been running.
    if (period.fromUtcMs)
        add(kFirst, steps.front() - 1);
    for (size_t i = 1; i < steps.size(); ++i)
        add(steps[i - 1] + 1, steps[i] - 1);
    if (period.toUtcMs)
        add(steps.back() + 1, kEnd - 1);
    return gaps;
}

} // namespace

QString qualityName(DayQuality quality)
{
    switch (quality) {
    case DayQuality::Good:
        return QStringLiteral("Good");
    case DayQuality::Partial:
        return QStringLiteral("Partial");
    case DayQuality::Missing:
        return QStringLiteral("Missing");
    }
    return {};
}

SurveySummary summarize(const SurveySeries &series, const SummaryPeriod &period)
{
    SurveySummary summary;
    summary.intervalSeconds = logIntervalSeconds(series.utcMs);
    const QTimeZone zone = usableZone(series.zone);
    if (series.utcMs.empty() && !(period.fromUtcMs && period.toUtcMs))
        return summary;
    const qint64 from = period.fromUtcMs ? *period.fromUtcMs
                                         : midnight(localDate(series.utcMs.front(), zone), zone);
    const qint64 to = period.toUtcMs
                          ? *period.toUtcMs
                          : midnight(localDate(series.utcMs.back(), zone).addDays(1), zone);
    if (to <= from)
        return summary;

    const auto [first, last] = indexRange(series, from, to);
    const qint64 step = qint64(summary.intervalSeconds) * 1000;
    // With no reading in the period, the log's own steps are still the ones expected.
    const qint64 anchor = first < last            ? series.utcMs[first]
                          : !series.utcMs.empty() ? series.utcMs.front()
                                                  : from;
    qint64 kFirst = 0, kEnd = 0;
    std::vector<qint64> steps;
    if (step > 0) {
        kFirst = ceilDiv(from - anchor, step);
        kEnd = ceilDiv(to - anchor, step);
        steps = stepsLogged(series, first, last, anchor, step, kFirst, kEnd);
        summary.gaps = gapsBetween(steps, anchor, step, kFirst, kEnd, period);
    }

    // A totalizer's last reading before the day, carried from day to day.
    double lastTotal = kNaN;
    size_t totalScanned = 0;
    const QDate lastDate = localDate(to - 1, zone);
    qint64 dayStart = midnight(localDate(from, zone), zone);
    for (QDate date = localDate(from, zone); date.isValid() && date <= lastDate;
         date = date.addDays(1)) {
        DaySummary day;
        day.date = date;
        day.startUtcMs = dayStart;
        day.endUtcMs = midnight(date.addDays(1), zone);
        dayStart = day.endUtcMs;
        const qint64 lo = std::max(day.startUtcMs, from);
        const qint64 hi = std::min(day.endUtcMs, to);
        const auto [a, b] = indexRange(series, lo, hi);

        double sum = 0, lowest = kNaN, highest = kNaN;
        int flows = 0;
        for (size_t i = a; i < b; ++i) {
            const double q = series.flow[i];
            if (!std::isfinite(q))
                continue;
            sum += q;
            ++flows;
            lowest = flows == 1 ? q : std::min(lowest, q);
            highest = flows == 1 ? q : std::max(highest, q);
        }
        day.volume = flows > 0 ? sum * summary.intervalSeconds : kNaN;
        day.minFlow = lowest;
        day.maxFlow = highest;
        day.meanFlow = flows > 0 ? sum / flows : kNaN;
        day.minNightFlow = minimumNightFlow(
            series, a,
            indexRange(series, lo, std::min(hi, nightEnd(date, day.startUtcMs, zone))).second,
            day.startUtcMs);

        if (series.hasTotal()) {
            for (; totalScanned < a; ++totalScanned)
                if (std::isfinite(series.total[totalScanned]))
                    lastTotal = series.total[totalScanned];
            double before = lastTotal;
            for (; totalScanned < b; ++totalScanned)
                if (std::isfinite(series.total[totalScanned])) {
                    if (!std::isfinite(before))
                        before = series.total[totalScanned];
                    lastTotal = series.total[totalScanned];
                }
            const bool totalInDay = std::any_of(series.total.begin() + a, series.total.begin() + b,
                                                [](double t) { return std::isfinite(t); });
            if (totalInDay) {
                day.volumeFromTotal = lastTotal - before;
                day.volumesDisagree =
                    std::isfinite(day.volume) && std::abs(*day.volumeFromTotal - day.volume) >
                                                     kVolumeDisagreement * std::abs(day.volume);
            }
        }

        if (step > 0) {
            const qint64 kLo = ceilDiv(lo - anchor, step);
            const qint64 kHi = ceilDiv(hi - anchor, step);
            day.expected = int(std::max<qint64>(0, kHi - kLo));
            day.readings = int(std::lower_bound(steps.begin(), steps.end(), kHi) -
                               std::lower_bound(steps.begin(), steps.end(), kLo));
        } else {
            // One instant tells no interval: it is all that was expected.
            day.readings = int(b - a);
            day.expected = day.readings;
        }
        day.completeness = day.expected > 0 ? double(day.readings) / day.expected : 0;
        day.quality = day.readings == 0                       ? DayQuality::Missing
                      : day.completeness >= kGoodCompleteness ? DayQuality::Good
                                                              : DayQuality::Partial;
        summary.days.push_back(day);
    }
    return summary;
}

DiurnalPattern dryWeatherPattern(const SurveySeries &series, const SurveySummary &summary,
                                 const std::vector<QDate> &dryDays)
{
    DiurnalPattern pattern;
    const QTimeZone zone = usableZone(series.zone);
    const std::set<QDate> wanted(dryDays.begin(), dryDays.end());
    std::array<double, 24> sums[2]{}, counts[2]{};
    for (const DaySummary &day : summary.days) {
        if (dryDays.empty() ? day.quality != DayQuality::Good : !wanted.count(day.date))
            continue;
        pattern.days.push_back(day.date);
        const int kind = day.date.dayOfWeek() >= 6 ? 1 : 0;
        // Local hours from the zone's offsets, found once for the day, not per reading.
        const QDateTime start = QDateTime::fromMSecsSinceEpoch(day.startUtcMs, Qt::UTC);
        const QTimeZone::OffsetDataList changes = zone.transitions(
            start.addMSecs(1), QDateTime::fromMSecsSinceEpoch(day.endUtcMs - 1, Qt::UTC));
        qint64 offsetMs = qint64(zone.offsetFromUtc(start)) * 1000;
        int change = 0;
        const qint64 wallMidnight = QDateTime(day.date, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
        const auto [a, b] = indexRange(series, day.startUtcMs, day.endUtcMs);
        for (size_t i = a; i < b; ++i) {
            while (change < changes.size() &&
                   changes[change].atUtc.toMSecsSinceEpoch() <= series.utcMs[i])
                offsetMs = qint64(changes[change++].offsetFromUtc) * 1000;
            if (!std::isfinite(series.flow[i]))
                continue;
            const int hour = std::clamp(
                int(floorDiv(series.utcMs[i] + offsetMs - wallMidnight, kHourMs)), 0, 23);
            sums[kind][hour] += series.flow[i];
            counts[kind][hour] += 1;
        }
    }
    for (int h = 0; h < 24; ++h) {
        pattern.weekday[h] = counts[0][h] > 0 ? sums[0][h] / counts[0][h] : kNaN;
        pattern.weekend[h] = counts[1][h] > 0 ? sums[1][h] / counts[1][h] : kNaN;
    }
    return pattern;
}

} // namespace ostrand::survey
