#pragma once

#include "collect/stations_file.h"
#include "health/station_health.h"
#include "store/store_records.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <array>
#include <optional>
#include <vector>

namespace ostrand::web {

// Days the completeness strip shows, ending with yesterday in the station's zone.
constexpr int kStripDays = 90;
// Hours the attempts bar shows, ending now.
constexpr int kBarHours = 24;

// One hour of the attempts bar.
enum class HourState { None, Ok, Failed };
QString hourStateName(HourState state); // "none", "ok", "failed"

struct HourCell {
    QDateTime startUtc;
    int attempts = 0;
    int failures = 0;
    HourState state = HourState::None; // Failed when any run in it failed
};

// One day of the strip. A day short of even one instant is not whole, however
// many it has; a day with no count is missing.
struct DayCell {
    QDate date; // the meter's local date
    int instants = 0;
    int expected = 0; // the day's length in its zone over the interval; 0: interval not known
    bool whole = false;
};

// Everything the fleet page and its JSON show of one station.
struct FleetRow {
    collect::StationHealth health;
    QString stationName; // as the stations file spells it
    std::optional<QDateTime> lastReadingUtc;
    std::array<HourCell, kBarHours> hours;
    std::vector<DayCell> days; // kStripDays, oldest first; empty when the store keeps no day counts
    bool dayCountsKept = false; // the store holds day counts (one of an older version holds none)
};

// "2026-12-03" added to `out` without Qt's formatting: a fleet's page and
// JSON hold ninety thousand of them.
void appendIsoDate(QByteArray &out, const QDate &date);

// A meter that calls in: "connected", "not connected", "never called in", or
// "unconfirmed" for a line recorded as up that its listener has not confirmed
// lately; empty for a station we call.
QString connectionText(const collect::StationHealth &health);

// The fleet's rows at `nowUtc`, worst first (Stale, Failing, Late, OK, then
// the longest without a success, then by name). nullopt with *error set when
// the store would not answer.
std::optional<std::vector<FleetRow>> fleetRows(const std::vector<collect::Station> &stations,
                                               collect::StoreReader &store, const QDateTime &nowUtc,
                                               qint64 staleAfterSeconds, QString *error);

// The seconds of `date` as a meter keeping `clock` in `zone` lives it: 23 or
// 25 hours on a clock change for a meter that follows it, 24 for one on standard time.
qint64 daySeconds(const QDate &date, const QTimeZone &zone, collect::MeterClock clock);

// The strip's cells for the `kStripDays` days before `today` from one
// station's counts, by day. A day without an interval of its own (counted
// when an older store was taken up) is measured by the station's newest known
// one; with none known at all it cannot be vouched for and is drawn short.
std::vector<DayCell> stripDays(const std::vector<collect::DayCount> &counts, const QDate &today,
                               const QTimeZone &zone, collect::MeterClock clock);

} // namespace ostrand::web
