#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace ostrand::collect {

// Where a store lives, as a `[store]` url or `--store` names it.
struct StoreLocation {
    // Each names a back-end; store_backends.cpp lists what each one is.
    enum class Kind { Sqlite, Postgres };
    Kind kind = Kind::Sqlite;
    QString target; // SQLite: the file's absolute path; PostgreSQL: the libpq connection text as given
};

// "sqlite:PATH" (a relative PATH taken from `baseDir`), "postgresql://..." or
// "postgres://..." (a libpq URI), or a libpq "key=value ..." string. nullopt
// with *problem saying what a url looks like when `url` is none of these.
std::optional<StoreLocation> parseStoreUrl(const QString &url, const QString &baseDir, QString *problem);

// The store as every message names it: "SQLite database /srv/flow.db",
// "PostgreSQL database flow on db1:5432 as collector". Never a password nor a
// password file, whichever way the connection text gives them.
QString storeName(const StoreLocation &location);

// The files a SQLite store is kept in (the database and the journals SQLite
// makes beside it), which nothing else may write; none for PostgreSQL.
QStringList storeFiles(const StoreLocation &location);

// Whether several collectors can share the store, each claiming a station before collecting it.
bool storeTakesClaims(const StoreLocation &location);

} // namespace ostrand::collect
