#include "day_counts.h"

#include <QHash>
#include <QMap>
#include <algorithm>
#include <limits>
#include <tuple>

namespace ostrand::collect {
namespace {

// The batch's distinct instants in time order, with the local stamp each carries.
std::vector<std::pair<qint64, QString>> distinctInstants(const std::vector<StoredReading> &readings)
{
    std::vector<std::pair<qint64, QString>> instants;
    instants.reserve(readings.size());
    for (const StoredReading &r : readings)
        instants.emplace_back(r.timeUtc.toSecsSinceEpoch(), r.timeLocal);
    std::sort(instants.begin(), instants.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    instants.erase(std::unique(instants.begin(), instants.end(),
                               [](const auto &a, const auto &b) { return a.first == b.first; }),
                   instants.end());
    return instants;
}

} // namespace

int commonSpacingSeconds(const std::vector<StoredReading> &readings)
{
    const auto instants = distinctInstants(readings);
    QMap<qint64, int> spacings; // ordered: among equals the shortest is met first
    for (size_t i = 1; i < instants.size(); ++i)
        ++spacings[instants[i].first - instants[i - 1].first];
    qint64 common = 0;
    int seen = 0;
    for (auto it = spacings.constBegin(); it != spacings.constEnd(); ++it) {
        if (it.value() > seen) {
            seen = it.value();
            common = it.key();
        }
    }
    return int(std::min<qint64>(common, std::numeric_limits<int>::max()));
}

std::vector<DayCount> addedDayCounts(const std::vector<StoredReading> &readings, const StationInstants &storedInstants)
{
    QHash<QString, std::vector<StoredReading>> byStation;
    for (const StoredReading &r : readings)
        byStation[r.station].push_back(r);
    std::vector<DayCount> counts;
    for (auto it = byStation.constBegin(); it != byStation.constEnd(); ++it) {
        const int interval = commonSpacingSeconds(it.value());
        const QSet<qint64> stored = storedInstants.value(it.key());
        QMap<QDate, int> days;
        for (const auto &[utc, local] : distinctInstants(it.value())) {
            const QDate day = QDate::fromString(local.left(10), Qt::ISODate);
            if (day.isValid() && !stored.contains(utc))
                ++days[day];
        }
        for (auto day = days.constBegin(); day != days.constEnd(); ++day)
            counts.push_back({it.key(), day.key(), day.value(), interval});
    }
    std::sort(counts.begin(), counts.end(), [](const DayCount &a, const DayCount &b) {
        return std::tie(a.station, a.day) < std::tie(b.station, b.day);
    });
    return counts;
}

QHash<QString, InstantSpan> stationSpans(const std::vector<StoredReading> &readings)
{
    QHash<QString, InstantSpan> spans;
    for (const StoredReading &r : readings) {
        const auto found = spans.find(r.station);
        if (found == spans.end()) {
            spans.insert(r.station, {r.timeUtc, r.timeUtc});
            continue;
        }
        found->firstUtc = std::min(found->firstUtc, r.timeUtc);
        found->lastUtc = std::max(found->lastUtc, r.timeUtc);
    }
    return spans;
}

} // namespace ostrand::collect
