#pragma once

#include "store/store_backend.h"

namespace ostrand::collect {

// How long a statement waits for a lock another connection holds: a station's
// transaction on another line, or another program.
constexpr int kSqliteWaitMs = 60000;

// Opens (creating it, and its tables in an empty database) the SQLite file at
// `path`, refusing a link, anything but a regular file, a file in a folder any
// user may write, and a database holding tables of another program. A
// collector takes a store of an older schema up to this program's.
std::unique_ptr<ReadingStore> openSqliteStore(const QString &path, QString *error, int waitMs = kSqliteWaitMs,
                                              StoreUse use = StoreUse::Collecting);

// "SQLite database /srv/flow.db": the store as every message names it.
QString sqliteName(const QString &path);

// What is wrong with `path` as a SQLite store's file, by the outputs' rules
// (no symbolic link, a regular file, not in a folder any user may write), or
// an empty text. A store has no size limit.
QString storeFileProblem(const QString &path);

// "sqlite:PATH": a file beside the program's others, one host's collectors at a time.
extern const StoreBackend kSqliteBackend;

} // namespace ostrand::collect
