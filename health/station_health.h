#pragma once

#include "store/store_records.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace ostrand::collect {

// How one station stands, as a monitoring system wants to know it.
struct StationHealth {
    QString name;
    std::optional<QDateTime> lastOkUtc;
    std::optional<QDateTime> lastAttemptUtc;
    qint64 ageSeconds = 0; // since the last success; 0 when there was none
    int attempts = 0;      // in the 24 h before now
    int failures = 0;      // of those attempts
    QString lastError;
    QString lastReading;   // the newest reading's stamp, when the source knows it
    bool stale = false;    // no success for longer than the limit, or never
};

// Each station's health at `nowUtc`, in the order of `stations`: the last
// success, the last attempt and the last error as the station's row holds
// them; the attempts and failures of `collections` (any stations' runs)
// started in the 24 h up to now, a run started exactly 24 h ago included; a
// failed run's attempts all count as failures, a good run's all but its last.
// A station is stale when its last success is more than `staleAfterSeconds`
// old, or it has none: a station never collected is as silent as one gone quiet.
std::vector<StationHealth> stationHealth(const std::vector<StationRow> &stations,
                                         const std::vector<CollectionRow> &collections, const QDateTime &nowUtc,
                                         qint64 staleAfterSeconds);

// One line for a person: "north-pump: ok, last success 2026-12-07T02:30:12Z (5.2 h ago),
// attempts in 24 h: 1, failed: 0", then the last reading and the last error when known.
QString healthLine(const StationHealth &health);

// The same for a program, with now and the limit.
QByteArray healthJson(const std::vector<StationHealth> &stations, const QDateTime &nowUtc, qint64 staleAfterSeconds);

} // namespace ostrand::collect
