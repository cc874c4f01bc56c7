#pragma once

#include <QString>
#include <optional>

namespace ostrand::collect {

// Where a store lives, as a `[store]` url or `--store` names it.
struct StoreLocation {
    enum class Kind { Sqlite, Postgres };
    Kind kind = Kind::Sqlite;
    QString target; // SQLite: the file's absolute path; PostgreSQL: the libpq connection text as given
};

// "sqlite:PATH" (a relative PATH taken from `baseDir`), "postgresql://..." or
// "postgres://..." (a libpq URI), or a libpq "key=value ..." string. nullopt
// with *problem saying what a url looks like when `url` is none of these.
std::optional<StoreLocation> parseStoreUrl(const QString &url, const QString &baseDir, QString *problem);

} // namespace ostrand::collect
