#pragma once

#include "store/store_location.h"

#include <QFile>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <gtest/gtest.h>
#include <ostream>

namespace ostrand::collect {

// gtest lists each case with the value this prints, and ctest names the case by it: /SQLite, /PostgreSQL.
inline void PrintTo(StoreLocation::Kind kind, std::ostream *out)
{
    *out << (kind == StoreLocation::Kind::Sqlite ? "SQLite" : "PostgreSQL");
}

// Both databases a test runs against.
inline const auto kBothStoreKinds = ::testing::Values(StoreLocation::Kind::Sqlite, StoreLocation::Kind::Postgres);

// Statements run around the store's own code, as another program (or an older version) would.
inline bool rawExec(const StoreLocation &location, const char *sql)
{
    if (location.kind == StoreLocation::Kind::Sqlite) {
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(location.target), &db);
        const bool ok = sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return ok;
    }
    PGconn *conn = PQconnectdb(location.target.toUtf8().constData());
    PGresult *r = PQexec(conn, sql);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    PQclear(r);
    PQfinish(conn);
    return ok;
}

} // namespace ostrand::collect
