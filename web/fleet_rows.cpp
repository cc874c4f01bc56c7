#include "fleet_rows.h"

#include "health/health_sources.h"
#include "store/run_result.h"

#include <QHash>
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
    case HourState::Ok:
        return QStringLiteral("ok");
    case HourState::Failed:
        return QStringLiteral("failed");
    case HourState::None:
        break;
    }
    return QStringLiteral("none");
}

void appendIsoDate(QByteArray &out, const QDate &date)
{
    char text[10];
    const int y = date.year(), m = date.month(), d = date.day();
    text[0] = char('0' + y / 1000 % 10);
    text[1] = char('0' + y / 100 % 10);
    text[2] = char('0' + y / 10 % 10);
    text[3] = char('0' + y % 10);
    text[4] = '-';
    text[5] = char('0' + m / 10);
    text[6] = char('0' + m % 10);
    text[7] = '-';
    text[8] = char('0' + d / 10);
    text[9] = char('0' + d % 10);
    out.append(text, 10);
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

std::vector<DayCell> stripDays(const std::vector<DayCount> &counts, const QDate &today,
                               const QTimeZone &zone, MeterClock clock)
{
    const QDate first = today.addDays(-kStripDays);
    // Only a day with a clock change differs from 24 h: those are found from the zone's
    // transitions, not by asking the zone about each of a fleet's days.
    QHash<QDate, qint64> changedDays;
    if (clock == MeterClock::Local && zone.isValid()) {
        const QDateTime from(first.addDays(-1), QTime(0, 0), Qt::UTC);
        const QDateTime to(today.addDays(1), QTime(0, 0), Qt::UTC);
        for (const QTimeZone::OffsetData &change : zone.transitions(from, to)) {
            const QDate date = change.atUtc.toTimeZone(zone).date();
            changedDays.insert(date, daySeconds(date, zone, clock));
        }
    }
    // A day counted when an older store was taken up has no interval of its
    // own: the station's newest known one stands for it.
    int knownInterval = 0;
    for (const DayCount &c : counts)
        if (c.intervalSeconds > 0)
            knownInterval = c.intervalSeconds;
    std::vector<DayCell> days;
    days.reserve(kStripDays);
    auto count = counts.begin();
    for (QDate date = first; date < today; date = date.addDays(1)) {
        DayCell cell;
        cell.date = date;
        while (count != counts.end() && count->day < date)
            ++count;
        if (count != counts.end() && count->day == date) {
            cell.instants = count->instants;
            const int interval =
                count->intervalSeconds > 0 ? count->intervalSeconds : knownInterval;
            if (interval > 0)
                cell.expected = int(changedDays.value(date, 24 * 3600) / interval);
            // An interval not known cannot vouch for a day: it is drawn short rather than whole.
            cell.whole = cell.expected > 0 && cell.instants >= cell.expected;
        }
        days.push_back(cell);
    }
    return days;
}

namespace {

std::array<HourCell, kBarHours> hourBar(const std::vector<const collect::CollectionRow *> &runs,
                                        const QDateTime &nowUtc)
{
    std::array<HourCell, kBarHours> hours;
    const QDateTime from = nowUtc.addSecs(-kBarHours * 3600);
    for (int i = 0; i < kBarHours; ++i)
        hours[i].startUtc = from.addSecs(i * 3600);
    const QString failed = collect::runResultText(collect::RunResult::Failed);
    const QString ok = collect::runResultText(collect::RunResult::Ok);
    for (const collect::CollectionRow *each : runs) {
        const collect::CollectionRow &run = *each;
        if (run.startedUtc < from || run.startedUtc > nowUtc)
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

} // namespace

std::optional<std::vector<FleetRow>> fleetRows(const std::vector<Station> &stations,
                                               collect::StoreReader &store, const QDateTime &nowUtc,
                                               qint64 staleAfterSeconds, QString *error)
{
    const auto runs = store.collections(nowUtc.addSecs(-kBarHours * 3600), error);
    if (!runs)
        return std::nullopt;
    auto health =
        collect::healthFromStore(store, stations, *runs, nowUtc, staleAfterSeconds, error);
    if (!health)
        return std::nullopt;
    // Two days early: a zone ahead of UTC is already on a later date.
    const auto counts = store.dayCounts(nowUtc.date().addDays(-kStripDays - 2), error);
    if (!counts)
        return std::nullopt;
    const auto newest = store.newestReadings(error);
    if (!newest)
        return std::nullopt;
    // By station once: a fleet's day of runs is thousands of rows.
    QHash<QString, std::vector<DayCount>> countsOf;
    for (const DayCount &count : *counts)
        countsOf[count.station].push_back(count);
    QHash<QString, std::vector<const collect::CollectionRow *>> runsOf;
    for (const collect::CollectionRow &run : *runs)
        runsOf[run.station].push_back(&run);

    std::vector<FleetRow> rows;
    rows.reserve(stations.size());
    for (size_t i = 0; i < stations.size(); ++i) {
        const Station &station = stations[i];
        FleetRow row;
        row.health = (*health)[i];
        row.stationName = station.name;
        row.hours = hourBar(runsOf.value(station.name), nowUtc);
        row.dayCountsKept = !counts->empty();
        const QTimeZone zone = station.timeZone();
        const std::vector<DayCount> own = countsOf.value(station.name);
        if (row.dayCountsKept) {
            const QDate today = station.clock == MeterClock::Standard
                                    ? nowUtc.toOffsetFromUtc(zone.standardTimeOffset(nowUtc)).date()
                                    : nowUtc.toTimeZone(zone).date();
            row.days = stripDays(own, today, zone, station.clock);
        }
        // The store's own newest instant: a health source's lastReading is a meter's local stamp.
        if (newest->contains(station.name))
            row.lastReadingUtc = newest->value(station.name);
        rows.push_back(std::move(row));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const FleetRow &a, const FleetRow &b) {
        if (a.health.state != b.health.state)
            return stateRank(a.health.state) < stateRank(b.health.state);
        // Never a success is the oldest of all.
        const qint64 ageA =
            a.health.lastOkUtc ? a.health.ageSeconds : std::numeric_limits<qint64>::max();
        const qint64 ageB =
            b.health.lastOkUtc ? b.health.ageSeconds : std::numeric_limits<qint64>::max();
        if (ageA != ageB)
            return ageA > ageB;
        return a.stationName < b.stationName;
    });
    return rows;
}

} // namespace ostrand::web
