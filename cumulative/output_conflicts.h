#pragma once

#include "store/store_location.h"

#include <QString>
#include <vector>

namespace ostrand::collect {

// A station's cumulative file, as the checks below name it.
struct StationOutput {
    QString station;
    QString output; // absolute path
};

// Names in one stations file that lead to one file, through links or a linked
// folder as much as by spelling: two stations' outputs, or an output that is
// the stations file itself. The first such pair in words (both files and both
// stations named), or an empty text.
QString stationsConflict(const std::vector<StationOutput> &stations, const QString &stationsPath);

// A report file that is the stations file or a station's output, which writing
// the report would destroy; the pair in words, or an empty text.
QString reportConflict(const QString &reportPath, const std::vector<StationOutput> &stations,
                       const QString &stationsPath);

// The file of the SQLite store `store` (the database or a journal beside it)
// that `path` leads to, through links as much as by spelling; an empty text
// when it is none of them, or the store is not SQLite.
QString storeFileOf(const QString &path, const StoreLocation &store);

// A station whose output, or a file kept beside it, is the SQLite store's own
// file, which writing it would destroy; the pair in words, or an empty text.
QString storeConflict(const std::vector<StationOutput> &stations, const StoreLocation &store);

} // namespace ostrand::collect
