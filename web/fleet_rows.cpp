#include "fleet_rows.h"

#include "health/health_sources.h"
#include "store/run_result.h"

#include <algorithm>
#include <map>

namespace ostrand::web {

using collect::DayCount;
using collect::MeterClock;
using collect::Station;
using collect::StationHealth;

QString hourStateName(HourState state)
{
    switch (state) {
    case HourState::Ok: return QStringLiteral("ok");
    case HourState::Failed: return QStringLiteral("failed");
    case HourState::None: break;
    }
    return QStringLiteral("none");
}

QString connectionText(const StationHealth &health)
{
    if (!health.callIn)
        return {};
    if (!health.callIn->line)
        return QStringLiteral("never called in");
    if (!health.callIn->line->connected)
        return QStringLiteral("not connected");
    return health.callIn->unconfirmed ? QStringLiteral("unconfirmed") : QStringLiteral("connected");
}

qint64 daySeconds(const QDate &date, const QTimeZone &zone, MeterClock clock)
{
    // A meter on standard time all year never lives a 23- or 25-hour day.
    if (clock == MeterClock::Standard || !zone.isValid())
        return 24 * 3600;
    const QDateTime start(date, QTime(0, 0), zone);
    const QDateTime end(date.addDays(1), QTime(0, 0), zone);
    return start.secsTo(end);
}

std::vector<DayCell> stripDays(const std::vector<DayCount> &counts, const QDate &today, const QTimeZone &zone,
                               MeterClock clock)
{
    std::map<QDate, const DayCount *> byDay;
    for (const DayCount &count : counts)
        byDay[count.day] = &count;
    std::vector<DayCell> days;
    days.reserve(kStripDays);
    for (int back = kStripDays; back >= 1; --back) {
        DayCell cell;
        cell.date = today.addDays(-back);
        const auto found = byDay.find(cell.date);
        if (found != byDay.end()) {
            cell.instants = found->second->instants;
            if (found->second->intervalSeconds > 0)
                cell.expected = int(daySeconds(cell.date, zone, clock) / found->second->intervalSeconds);
            // An interval not known cannot vouch for a day: it is drawn short rather than whole.
            cell.whole = cell.expected > 0 && cell.instants >= cell.expected;
        }
        days.push_back(cell);
    }
    return days;
}

namespace {

std::array<HourCell, kBarHours> hourBar(const QString &station, const std::vector<collect::CollectionRow> &runs,
                                        const QDateTime &nowUtc)
{
    std::array<HourCell, kBarHours> hours;
    const QDateTime from = nowUtc.addSecs(-kBarHours * 3600);
    for (int i = 0; i < kBarHours; ++i)
        hours[i].startUtc = from.addSecs(i * 3600);
    const QString failed = collect::runResultText(collect::RunResult::Failed);
    const QString ok = collect::runResultText(collect::RunResult::Ok);
    for (const collect::CollectionRow &run : runs) {
        if (run.station != station || run.startedUtc < from || run.startedUtc > nowUtc)
            continue;
        // The run started exactly now belongs to the last hour, not a 25th.
        const int i = std::min<qint64>(kBarHours - 1, from.secsTo(run.startedUtc) / 3600);
        HourCell &cell = hours[i];
        cell.attempts += run.attempts;
        if (run.result == failed) {
            cell.failures += run.attempts;
            cell.state = HourState::Failed;
        } else if (run.result == ok) {
            cell.failures += std::max(0, run.attempts - 1);
            if (cell.state == HourState::None)
                cell.state = HourState::Ok;
        }
    }
    return hours;
}

int stateRank(collect::StationState state)
{
    return int(state); // declared worst first
}

// The newest reading at or after `fromUtc`, read in a window that grows back
// to `fromUtc` only when the last two hours hold none.
std::optional<QDateTime> newestReading(collect::StoreReader &store, const QString &station, const QDateTime &fromUtc,
                                       const QDateTime &nowUtc, bool *answered, QString *error)
{
    QDateTime from = std::max(fromUtc, nowUtc.addSecs(-2 * 3600));
    for (;;) {
        const auto readings = store.readings({station, {}, from, {}}, error);
        if (!readings) {
            *answered = false;
            return std::nullopt;
        }
        if (!readings->empty())
            return readings->back().timeUtc;
        if (from <= fromUtc)
            return std::nullopt;
        from = fromUtc;
    }
}

} // namespace

std::optional<std::vector<FleetRow>> fleetRows(const std::vector<Station> &stations, collect::StoreReader &store,
                                               const QDateTime &nowUtc, qint64 staleAfterSeconds, QString *error)
{
    auto health = collect::healthFromStore(store, stations, nowUtc, staleAfterSeconds, error);
    if (!health)
        return std::nullopt;
    const auto runs = store.collections(nowUtc.addSecs(-kBarHours * 3600), error);
    if (!runs)
        return std::nullopt;
    // Two days early: a zone ahead of UTC is already on a later date.
    const auto counts = store.dayCounts(nowUtc.date().addDays(-kStripDays - 2), error);
    if (!counts)
        return std::nullopt;
    std::map<QString, std::vector<DayCount>> countsOf;
    for (const DayCount &count : *counts)
        countsOf[count.station].push_back(count);

    std::vector<FleetRow> rows;
    rows.reserve(stations.size());
    for (size_t i = 0; i < stations.size(); ++i) {
        const Station &station = stations[i];
        FleetRow row;
        row.health = (*health)[i];
        row.stationName = station.name;
        row.hours = hourBar(station.name, *runs, nowUtc);
        row.dayCountsKept = !counts->empty();
        const QTimeZone zone = station.timeZone();
        const std::vector<DayCount> &own = countsOf[station.name];
        if (row.dayCountsKept) {
            const QDate today = station.clock == MeterClock::Standard
                                    ? nowUtc.toOffsetFromUtc(zone.standardTimeOffset(nowUtc)).date()
                                    : nowUtc.toTimeZone(zone).date();
            row.days = stripDays(own, today, zone, station.clock);
        }
        if (!row.health.lastReading.isEmpty()) {
            row.lastReadingUtc = QDateTime::fromString(row.health.lastReading, Qt::ISODate);
        } else {
            // The newest day with readings bounds the search to a day's readings at most.
            const auto newest = std::find_if(own.rbegin(), own.rend(), [](const DayCount &c) { return c.instants > 0; });
            if (newest != own.rend()) {
                const QDateTime dayStart = QDateTime(newest->day, QTime(0, 0), zone).addSecs(-3600).toUTC();
                bool answered = true;
                row.lastReadingUtc = newestReading(store, station.name, dayStart, nowUtc, &answered, error);
                if (!answered)
                    return std::nullopt;
            }
        }
        rows.push_back(std::move(row));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const FleetRow &a, const FleetRow &b) {
        if (a.health.state != b.health.state)
            return stateRank(a.health.state) < stateRank(b.health.state);
        // Never a success is the oldest of all.
        const qint64 ageA = a.health.lastOkUtc ? a.health.ageSeconds : std::numeric_limits<qint64>::max();
        const qint64 ageB = b.health.lastOkUtc ? b.health.ageSeconds : std::numeric_limits<qint64>::max();
        if (ageA != ageB)
            return ageA > ageB;
        return a.stationName < b.stationName;
    });
    return rows;
}

} // namespace ostrand::web
