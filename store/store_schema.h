#pragma once

#include <QByteArray>

namespace ostrand::collect {

// The schema this program writes. A store of an older version is taken up to
// it, one step at a time in one transaction, when a collector opens it;
// readers read it as it is. A newer one is refused.
constexpr int kStoreSchemaVersion = 4;
// The oldest schema this program still reads and takes up.
constexpr int kOldestStoreSchemaVersion = 1;
// The first that keeps the call-in lines (call_in_lines).
constexpr int kCallInLinesSchemaVersion = 2;
// The first that keeps each station's day counts (station_days).
constexpr int kDayCountsSchemaVersion = 3;
// The first that keeps the readings still to be published (outbox).
constexpr int kOutboxSchemaVersion = 4;

// How the listener's news of a call-in line replace the row a station has: a
// call's end does not replace a newer call another collector took meanwhile
// (a router that moved to another host before the first noticed the drop).
constexpr char kCallInUpsertRule[] =
    " ON CONFLICT (station) DO UPDATE SET connected = excluded.connected, peer = excluded.peer, "
    "since_utc = excluded.since_utc, heard_utc = excluded.heard_utc, recorded_utc = excluded.recorded_utc "
    "WHERE excluded.connected OR NOT call_in_lines.connected OR call_in_lines.peer = excluded.peer";

// The tables and index every back-end makes, in its own dialect: `timeType`
// is its type for a UTC time ("TEXT" holding utcText, "TIMESTAMPTZ"), and
// `keyedTableOptions` follows the readings table's definition (SQLite's
// "WITHOUT ROWID" keeps the readings in their key's order, in half the space).
// `serialKey` is its key column counting up that never gives a number twice,
// even once the highest row is deleted ("INTEGER PRIMARY KEY AUTOINCREMENT",
// "BIGSERIAL PRIMARY KEY"): a publisher removing what it sent must never
// remove a newer row given a freed number.
// The first version's tables, then every step's.
QByteArray storeSchema(const char *timeType, const char *keyedTableOptions, const char *serialKey);

// What takes a store of version `from` to version `from + 1`, in the
// back-end's dialect; empty for a version that has no next.
QByteArray storeSchemaStep(int from, const char *timeType, const char *serialKey);

// Every step from version `from` up to kStoreSchemaVersion.
QByteArray storeSchemaSteps(int from, const char *timeType, const char *serialKey);

} // namespace ostrand::collect
