#pragma once

#include "store/store_records.h"

#include <QHash>
#include <QSet>
#include <vector>

namespace ostrand::collect {

// Instants (seconds since 1970, UTC) by station.
using StationInstants = QHash<QString, QSet<qint64>>;

// The day counts a batch of readings adds: on each station's days (the date
// of its local stamps), the distinct instants the store did not hold before,
// `storedInstants` being those it held in the station's span of the batch. A
// day with none is left out, so a batch written twice adds nothing the second
// time. intervalSeconds is the most common spacing of the station's
// consecutive instants in the batch, for every day (0 when it cannot tell).
// By station, then day.
std::vector<DayCount> addedDayCounts(const std::vector<StoredReading> &readings,
                                     const StationInstants &storedInstants);

// Each station's first and last instant in a batch: what the store is asked
// which instants it holds between.
struct InstantSpan {
    QDateTime firstUtc;
    QDateTime lastUtc;
};
QHash<QString, InstantSpan> stationSpans(const std::vector<StoredReading> &readings);

// How the day counts a batch adds go into station_days: added to a day's
// count, its interval replaced when the batch could tell one.
constexpr char kDayCountUpsertRule[] =
    " ON CONFLICT (station, day) DO UPDATE SET instants = station_days.instants + "
    "excluded.instants, "
    "interval_seconds = CASE WHEN excluded.interval_seconds > 0 THEN excluded.interval_seconds "
    "ELSE station_days.interval_seconds END";

// The channels a store's reading key may hold, asked for one by one so the
// key (station, channel, time) finds an instant without reading the whole station.
constexpr char kEveryChannel[] = "(1, 2, 3, 4, 5, 6, 7, 8)";

} // namespace ostrand::collect
