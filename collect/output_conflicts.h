#pragma once

#include "collect/stations_file.h"
#include "collect/store_location.h"

#include <QString>
#include <vector>

namespace ostrand::collect {

// Names in one stations file that lead to one file, through links or a linked
// folder as much as by spelling: two stations' outputs, or an output that is
// the stations file itself. The first such pair in words (both files and both
// stations named), or an empty text.
QString stationsConflict(const std::vector<Station> &stations, const QString &stationsPath);

// A report file that is the stations file or a station's output, which writing
// the report would destroy; the pair in words, or an empty text.
QString reportConflict(const QString &reportPath, const std::vector<Station> &stations,
                       const QString &stationsPath);

// The file of the SQLite store `store` (the database or a journal beside it)
// that `path` leads to, through links as much as by spelling; an empty text
// when it is none of them, or the store is not SQLite.
QString storeFileOf(const QString &path, const StoreLocation &store);

// A station whose output, or a file kept beside it, is the SQLite store's own
// file, which writing it would destroy; the pair in words, or an empty text.
QString storeConflict(const std::vector<Station> &stations, const StoreLocation &store);

} // namespace ostrand::collect
