#pragma once

#include "health/station_health.h"
#include "collect/stations_file.h"
#include "store/store_records.h"

#include <QStringList>
#include <optional>

namespace ostrand::collect {

// The time between a station's scheduled collections: its `interval`, else
// a day, or an hour for a meter that calls in.
qint64 stationIntervalMs(const Station &station);

// The fleet's health from a store: each station of the file as the store
// knows it (never collected when it does not), judged by its own interval, its runs of the last 24 h, and
// for a station that calls in its call-in line (a store of the version before
// those were kept has none: never called in).
// nullopt with *error set when the store would not answer.
std::optional<std::vector<StationHealth>> healthFromStore(StoreReader &store, const std::vector<Station> &stations,
                                                          const QDateTime &nowUtc, qint64 staleAfterSeconds,
                                                          QString *error);
// The same with the runs of the 24 h before now (any stations') already read.
std::optional<std::vector<StationHealth>> healthFromStore(StoreReader &store, const std::vector<Station> &stations,
                                                          const std::vector<CollectionRow> &runs,
                                                          const QDateTime &nowUtc, qint64 staleAfterSeconds,
                                                          QString *error);

// The fleet's health from the files beside each output: the runs collect
// keeps in its history file, the stamp of the output's last row and, for a
// station that calls in, its call-in line. A history or line that could not be
// read, or a history read only in part, gets a line in *notes.
std::vector<StationHealth> healthFromFiles(const std::vector<Station> &stations, const QDateTime &nowUtc,
                                           qint64 staleAfterSeconds, QStringList *notes = nullptr);

// The first field of the last row of a cumulative CSV file (its stamp), read
// from the file's end; empty when it has no data row or cannot be read.
QString lastRowStamp(const QString &csvPath);

} // namespace ostrand::collect
