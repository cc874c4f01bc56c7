#pragma once

#include "store/store_location.h"
#include "store/store_records.h"

#include <QString>
#include <memory>

namespace ostrand::collect {

// Opens the store `url` names for reading: "sqlite:PATH" (a relative PATH taken
// from `baseDir`: the folder of the stations file that names it, or the
// working folder for a --store given on the command line) or a PostgreSQL
// connection URI or string. nullptr when it cannot be opened, with *error
// saying what happened and what to check.
std::unique_ptr<StoreReader> openStoreReader(const QString &url, const QString &baseDir, QString *error);
// The same for a store already located. A SQLite file that is not there is
// refused rather than made: a reader asking for it has the wrong name.
std::unique_ptr<StoreReader> openStoreReader(const StoreLocation &location, QString *error);

} // namespace ostrand::collect
