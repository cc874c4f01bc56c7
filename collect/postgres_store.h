#pragma once

#include "collect/reading_store.h"

namespace ostrand::collect {

// Connects with a libpq URI or key=value string and creates the tables when missing.
std::unique_ptr<ReadingStore> openPostgresStore(const QString &connection, QString *error);

} // namespace ostrand::collect
