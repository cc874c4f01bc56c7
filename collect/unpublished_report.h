#pragma once

#include "collect/station_collector.h"

#include <QStringList>
#include <vector>

namespace ostrand::collect {

// Each report's station given what of it waits in the store's outbox after
// the run (read as status reads it); false with *error set when the store
// would not say, the reports then left as they were.
bool addUnpublished(std::vector<StationReport> &reports, const StoreLocation &store, QString *error);

// A line for each station with readings waiting: "north: 288 readings wait
// to be published, since 2026-12-07T06:00:00Z"; none when nothing waits.
QStringList unpublishedLines(const std::vector<StationReport> &reports);

} // namespace ostrand::collect
