#pragma once

#include "store/day_counts.h"

#include <sqlite3.h>

#include <QSet>
#include <optional>
#include <vector>

namespace ostrand::collect {

// The day counts on a SQLite store, each within the caller's transaction;
// nullopt or false when a statement failed (sqlite3_errmsg says why).

// The batch's stations whose span of it the store already holds readings in.
std::optional<QSet<QString>> stationsHeldInSpan(sqlite3 *db,
                                                const std::vector<StoredReading> &readings);

// Once the batch is in, the instants the store held before it: those none
// of whose readings went in (`inserted`, one flag a reading), and, of a
// station in `unclear`, those holding more readings now than the batch put in.
std::optional<StationInstants> heldInstants(sqlite3 *db, const std::vector<StoredReading> &readings,
                                            const std::vector<bool> &inserted,
                                            const QSet<QString> &unclear);

// Each day's count added to, its interval replaced when known.
bool writeDays(sqlite3 *db, const std::vector<DayCount> &days);

// Every station's day counts from `fromDay` on, by station then day.
std::optional<std::vector<DayCount>> readDayCounts(sqlite3 *db, const QDate &fromDay);

} // namespace ostrand::collect
