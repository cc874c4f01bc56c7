#pragma once

#include "store/store_backend.h"

namespace ostrand::collect {

// Connects with a libpq URI or key=value string and creates the tables when missing.
std::unique_ptr<ReadingStore> openPostgresStore(const QString &connection, QString *error);

// A libpq URI or key=value string: a server several collectors can share.
extern const StoreBackend kPostgresBackend;

} // namespace ostrand::collect
