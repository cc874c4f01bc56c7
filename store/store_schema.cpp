#include "store_schema.h"

namespace ostrand::collect {

QByteArray storeSchema(const char *timeType, const char *keyedTableOptions)
{
    QByteArray schema = R"(
CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS readings (
    station TEXT NOT NULL, channel INTEGER NOT NULL, label TEXT NOT NULL, unit TEXT NULL,
    time_utc @TIME NOT NULL, time_local TEXT NOT NULL, value DOUBLE PRECISION NOT NULL,
    PRIMARY KEY (station, channel, time_utc))@KEYED;
CREATE TABLE IF NOT EXISTS clashes (
    station TEXT NOT NULL, channel INTEGER NOT NULL, label TEXT NOT NULL, unit TEXT NULL,
    time_utc @TIME NOT NULL, time_local TEXT NOT NULL, value DOUBLE PRECISION NOT NULL);
CREATE TABLE IF NOT EXISTS stations (
    name TEXT PRIMARY KEY, port TEXT, timezone TEXT, last_attempt_utc @TIME, last_ok_utc @TIME,
    last_error TEXT NULL);
CREATE TABLE IF NOT EXISTS collections (
    station TEXT NOT NULL, started_utc @TIME NOT NULL, finished_utc @TIME NOT NULL,
    result TEXT NOT NULL, new_readings INTEGER NOT NULL, attempts INTEGER NOT NULL, error TEXT NULL);
CREATE INDEX IF NOT EXISTS collections_started ON collections (started_utc);
CREATE TABLE IF NOT EXISTS collection_cursors (station TEXT PRIMARY KEY, cursor TEXT NOT NULL);
)";
    return schema.replace("@TIME", timeType).replace("@KEYED", keyedTableOptions);
}

} // namespace ostrand::collect
