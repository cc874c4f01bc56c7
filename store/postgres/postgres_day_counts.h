#pragma once

#include "store/day_counts.h"
#include "store/postgres/postgres_session.h"

#include <optional>
#include <vector>

namespace ostrand::collect {

// The day counts on a PostgreSQL store, each within the caller's
// transaction; a failure sets *error, naming the store and `what`.

// The instants the store holds in each station's span of the batch, asked before it goes in.
std::optional<StationInstants> heldInstants(PostgresSession &session,
                                            const std::vector<StoredReading> &readings,
                                            QString *error, const QString &what);

// Each day's count added to, its interval replaced when known.
bool writeDays(PostgresSession &session, const std::vector<DayCount> &days, QString *error,
               const QString &what);

// Every station's day counts from `fromDay` on, by station then day.
std::optional<std::vector<DayCount>> readDayCounts(PostgresSession &session, const QDate &fromDay,
                                                   QString *error);

} // namespace ostrand::collect
