#pragma once

#include "store/store_records.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace ostrand::collect {

// The shapes a station's stored readings can be taken out in.
enum class ExportFormat {
    WindowCsv, // "csv": the file the window writes for a download
    IsoCsv,    // "iso-csv": UTC stamps, the station's offset and a units row
    Influx,    // "influx": InfluxDB line protocol, one point per reading
};

// The format named on a command line ("csv", "iso-csv", "influx"); nullopt for any other name.
std::optional<ExportFormat> exportFormatNamed(const QString &name);
// The names it takes, for a message: "csv, iso-csv or influx".
QString exportFormatChoices();

// Every function below takes one station's readings ordered by time, then
// channel, as StoreReader::readings gives them. An instant is one UTC time:
// the readings that share it make one row, so the autumn's repeated hour gives
// two rows with the same local stamp, each in its place, as the meter logged
// them. Each reading carries the station's offset at its instant, its local
// stamp less its UTC time, so clock = standard, daylight saving and a stamp
// the store had to place in the spring's missing hour all come out as stored.
// A control character in a label or a name comes out as U+FFFD in every
// format, as a store written before labels were cleaned may still hold one.

// The window's CSV of a download of these readings: "Date / Time" and the
// labels of the channels that have readings, then a row per instant with the
// meter's stamp and the values (totals rounded down), CR LF, Latin-1. A
// channel's heading is the label of its last reading, as a later download
// would show it. Unlike the window's grid there is no row limit, and unlike
// its file a heading holding a comma or a quote is quoted (RFC 4180).
QByteArray windowCsv(const std::vector<StoredReading> &readings);

// RFC 4180 CSV in UTF-8: "Time (UTC)", "Offset" and a heading per channel with
// readings ("Channel N" when its label is empty), a units row under them, then
// per instant "2026-03-29T00:45:00Z", "+00:00" and the values as stored.
QByteArray isoCsv(const std::vector<StoredReading> &readings);

// One point per reading: measurement "flow", tags channel, label and station
// (sorted by key, as InfluxDB prefers; an empty label leaves its tag out;
// comma, equals sign, space and backslash escaped), field value as a float
// and the UTC time in nanoseconds.
QByteArray influxLines(const std::vector<StoredReading> &readings);

// The text of `readings` in `format`.
QByteArray exportReadings(const std::vector<StoredReading> &readings, ExportFormat format);

// A reading's offset from UTC in seconds: its local stamp read as if it were
// UTC, less its UTC time; nullopt when the local stamp cannot be read.
std::optional<int> readingOffsetSeconds(const StoredReading &reading);

} // namespace ostrand::collect
