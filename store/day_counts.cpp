#include "day_counts.h"

#include <QMap>
#include <algorithm>
#include <limits>
#include <tuple>

namespace ostrand::collect {
namespace {

// One logging instant of one station in a batch, with the local stamp it carries.
struct Instant {
    int station; // its index in the batch's order of stations
    qint64 utc;
    const QString *local;
};

// The batch's distinct instants by station, then time. A run's batch is one
// station's readings in time order: sorting it is a pass over them.
std::vector<Instant> distinctInstants(const std::vector<StoredReading> &readings,
                                      QStringList *stations)
{
    QHash<QString, int> index;
    std::vector<Instant> instants;
    instants.reserve(readings.size());
    int last = -1;
    const QString *lastName = nullptr;
    for (const StoredReading &r : readings) {
        if (!lastName || r.station != *lastName) {
            const auto found = index.constFind(r.station);
            last = found != index.constEnd() ? *found : int(stations->size());
            if (found == index.constEnd()) {
                index.insert(r.station, last);
                stations->append(r.station);
            }
            lastName = &r.station;
        }
        instants.push_back({last, r.timeUtc.toSecsSinceEpoch(), &r.timeLocal});
    }
    const auto key = [](const Instant &i) { return std::make_pair(i.station, i.utc); };
    std::stable_sort(instants.begin(), instants.end(),
                     [&](const Instant &a, const Instant &b) { return key(a) < key(b); });
    instants.erase(
        std::unique(instants.begin(), instants.end(),
                    [&](const Instant &a, const Instant &b) { return key(a) == key(b); }),
        instants.end());
    return instants;
}

// The most common spacing of instants[from, to), one station's in time
// order, the shorter of two as common: what a missing reading or a clock
// change leaves does not change it. 0 for fewer than two instants.
int commonSpacing(const std::vector<Instant> &instants, size_t from, size_t to)
{
    QMap<qint64, int> spacings; // ordered: among equals the shortest is met first
    for (size_t i = from + 1; i < to; ++i)
        ++spacings[instants[i].utc - instants[i - 1].utc];
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

} // namespace

std::vector<DayCount> addedDayCounts(const std::vector<StoredReading> &readings,
                                     const StationInstants &storedInstants)
{
    QStringList stations;
    const std::vector<Instant> instants = distinctInstants(readings, &stations);
    std::vector<DayCount> counts;
    for (size_t from = 0, to = 0; from < instants.size(); from = to) {
        while (to < instants.size() && instants[to].station == instants[from].station)
            ++to;
        const QString &station = stations.at(instants[from].station);
        const int interval = commonSpacing(instants, from, to);
        const QSet<qint64> stored = storedInstants.value(station);
        QMap<QDate, int> days;
        QStringView lastDay;
        QDate day;
        for (size_t i = from; i < to; ++i) {
            if (stored.contains(instants[i].utc))
                continue;
            const QStringView text = QStringView(*instants[i].local).left(10);
            if (text != lastDay) {
                lastDay = text;
                day = QDate::fromString(text.toString(), Qt::ISODate);
            }
            if (day.isValid())
                ++days[day];
        }
        for (auto it = days.constBegin(); it != days.constEnd(); ++it)
            counts.push_back({station, it.key(), it.value(), interval});
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
