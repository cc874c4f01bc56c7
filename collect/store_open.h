#pragma once

#include "collect/store_records.h"

#include <QString>
#include <memory>

namespace ostrand::collect {

// Opens the store `url` names for reading: "sqlite:PATH" (a relative PATH taken
// from `stationsFileDir`, where the stations file that names it lies, or the
// working folder for a --store given on the command line) or a PostgreSQL
// connection URI or string. nullptr when it cannot be opened, with *error
// saying what happened and what to check.
std::unique_ptr<StoreReader> openStoreReader(const QString &url, const QString &stationsFileDir, QString *error);

} // namespace ostrand::collect
