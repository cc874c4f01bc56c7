#pragma once

#include "store/store_records.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace ostrand::collect {

// A listener says at least once a minute that a connection is still up: one
// recorded as up and not said again for this long may be gone with its
// listener (stopped, killed, its host down).
constexpr qint64 kCallInConfirmSeconds = 300;

// How the connection of a station whose meter calls in stands.
struct CallInHealth {
    std::optional<CallInState> line; // as last recorded; none: its meter has not called in
    bool unconfirmed = false;        // recorded as connected, not said again for kCallInConfirmSeconds
};

// A station's state in one word, as `status`, the status page and its JSON
// give it, worst first: Stale (no success for longer than the limit, or
// never), Failing (the last attempt failed), Late (no success for 1.5 times
// its interval), OK.
enum class StationState { Stale, Failing, Late, Ok };
QString stateName(StationState state); // "Stale", "Failing", "Late", "OK"

// The time between a station's scheduled collections when its `interval`
// key does not say: a day, or an hour for a meter that calls in.
constexpr qint64 kDefaultIntervalMs = 24 * 3600 * 1000LL;

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
    StationState state = StationState::Stale;
    qint64 intervalMs = kDefaultIntervalMs; // the station's, for Late
    std::optional<CallInHealth> callIn; // for a station whose meter calls in
    std::optional<OutboxBacklog> unpublished; // its readings waiting to be published; none: none wait
};

// Each station's health at `nowUtc`, in the order of `stations`: the last
// success, the last attempt and the last error as the station's row holds
// them; the attempts and failures of `collections` (any stations' runs)
// started in the 24 h up to now, a run started exactly 24 h ago included; a
// failed run's attempts all count as failures, a good run's all but its last.
// A station is stale when its last success is more than `staleAfterSeconds`
// old, or it has none: a station never collected is as silent as one gone quiet.
// Its state is by kDefaultIntervalMs until setInterval gives its own.
std::vector<StationHealth> stationHealth(const std::vector<StationRow> &stations,
                                         const std::vector<CollectionRow> &collections, const QDateTime &nowUtc,
                                         qint64 staleAfterSeconds);

// The state of a station whose other fields are set: Stale when `stale`;
// Failing when its last attempt came after its last success; Late when its
// last success is more than 1.5 times intervalMs old (never for an interval
// of 0: a station collected at every connect has no schedule to fall behind); else OK.
StationState stationState(const StationHealth &health);

// The station's own interval set, and its state with it.
void setInterval(StationHealth &health, qint64 intervalMs);

// A call-in station's connection as `recorded` (none when never) at `nowUtc`.
CallInHealth callInHealth(const std::optional<CallInState> &recorded, const QDateTime &nowUtc);

// One line for a person: "north-pump: OK, last success 2026-12-07T02:30:12Z (5.2 h ago),
// attempts in 24 h: 1, failed: 0", then the last reading and the last error when known;
// for a station that calls in, its connection before the attempts ("connected since
// 2026-12-07T07:12:03Z from 192.0.2.7:40112, last heard 2026-12-07T07:59:40Z"), and
// before the last error what waits to be published, when some does.
QString healthLine(const StationHealth &health);

// The same for a program, with now and the limit.
QByteArray healthJson(const std::vector<StationHealth> &stations, const QDateTime &nowUtc, qint64 staleAfterSeconds);

} // namespace ostrand::collect
