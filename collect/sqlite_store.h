#pragma once

#include "collect/reading_store.h"

namespace ostrand::collect {

// Opens (creating it and its tables when missing) the SQLite file at `path`.
std::unique_ptr<ReadingStore> openSqliteStore(const QString &path, QString *error);

} // namespace ostrand::collect
