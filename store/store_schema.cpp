#include "store_schema.h"

namespace ostrand::collect {
namespace {

QByteArray inDialect(QByteArray text, const char *timeType, const char *keyedTableOptions = "",
                     const char *serialKey = "")
{
    return text.replace("@TIME", timeType).replace("@KEYED", keyedTableOptions).replace("@SERIAL", serialKey);
}

// The readings still to be published, queued in the transaction that
// stored them and taken out as the broker acknowledges them. Only their key
// is kept: the label, unit and value are the reading's own, joined at read.
// A store taken up starts with none waiting: what it already held was
// stored before anything was to be published.
QByteArray outboxStep(const char *timeType, const char *serialKey)
{
    return inDialect(R"(
CREATE TABLE IF NOT EXISTS outbox (
    id @SERIAL, station TEXT NOT NULL, channel INTEGER NOT NULL, time_utc @TIME NOT NULL,
    queued_utc @TIME NOT NULL);
CREATE INDEX IF NOT EXISTS outbox_station ON outbox (station, id);
)",
                     timeType, "", serialKey);
}

} // namespace

QByteArray storeSchema(const char *timeType, const char *keyedTableOptions, const char *serialKey)
{
    // Version 1 as it was written: a store made now and one taken up step by
    // step end with the same tables.
    const QByteArray first = R"(
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
    return inDialect(first, timeType, keyedTableOptions) + storeSchemaSteps(1, timeType, serialKey);
}

QByteArray storeSchemaStep(int from, const char *timeType, const char *serialKey)
{
    switch (from) {
    case 1:
        // The connections of meters that call in, one row a station, replaced as the listener hears of them.
        return inDialect(R"(
CREATE TABLE IF NOT EXISTS call_in_lines (
    station TEXT PRIMARY KEY, connected BOOLEAN NOT NULL, peer TEXT NOT NULL,
    since_utc @TIME NOT NULL, heard_utc @TIME NOT NULL, recorded_utc @TIME NOT NULL);
)",
                         timeType);
    case 2:
        // Each station's logging instants per day of its own, counted once
        // here from the readings already kept; the log interval is left
        // unknown (0) until a collection adds readings to the day.
        return R"(
CREATE TABLE IF NOT EXISTS station_days (
    station TEXT NOT NULL, day TEXT NOT NULL, instants INTEGER NOT NULL, interval_seconds INTEGER NOT NULL,
    PRIMARY KEY (station, day));
INSERT INTO station_days (station, day, instants, interval_seconds)
    SELECT station, substr(time_local, 1, 10), count(DISTINCT time_utc), 0 FROM readings
    GROUP BY station, substr(time_local, 1, 10);
)";
    case 3:
        return outboxStep(timeType, serialKey);
    default:
        return {};
    }
}

QByteArray storeSchemaSteps(int from, const char *timeType, const char *serialKey)
{
    QByteArray steps;
    for (int version = from; version < kStoreSchemaVersion; ++version)
        steps += storeSchemaStep(version, timeType, serialKey);
    return steps;
}

} // namespace ostrand::collect
