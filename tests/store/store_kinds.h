#pragma once

#include "store/store_location.h"

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

} // namespace ostrand::collect
