#pragma once

#include <QByteArray>

namespace ostrand::collect {

// The schema this program writes; a database holding another is refused.
constexpr int kStoreSchemaVersion = 1;

// The tables and index every back-end makes, in its own dialect: `timeType`
// is its type for a UTC time ("TEXT" holding utcText, "TIMESTAMPTZ"), and
// `keyedTableOptions` follows the readings table's definition (SQLite's
// "WITHOUT ROWID" keeps the readings in their key's order, in half the space).
QByteArray storeSchema(const char *timeType, const char *keyedTableOptions = "");

} // namespace ostrand::collect
