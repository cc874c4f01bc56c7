#pragma once

#include "store/store_backend.h"

namespace ostrand::collect {

// Connects with a libpq URI or key=value string and creates the tables when
// missing; a collector takes a store of an older schema up to this program's,
// under the lock the tables are made under.
std::unique_ptr<ReadingStore> openPostgresStore(const QString &connection, QString *error,
                                                StoreUse use = StoreUse::Collecting);

// "PostgreSQL database flow on db1:5432 as collector", from the parts libpq
// reads in the connection text; never a password nor a password file.
QString postgresName(const QString &connection);

// A libpq URI or key=value string: a server several collectors can share.
extern const StoreBackend kPostgresBackend;

} // namespace ostrand::collect
