#include "health_sources.h"

#include "cumulative/call_in_line_file.h"
#include "cumulative/collection_history.h"
#include "platform/small_file.h"
#include "store/outbox_backlog.h"

#include <QFile>
#include <QHash>
#include <limits>

namespace ostrand::collect {
namespace {

// A row is a stamp and eight values: far less than this.
constexpr qint64 kTailBytes = 4096;

// What of each station waits to be published; a store made before the outbox has none.
bool addUnpublished(StoreReader &store, std::vector<StationHealth> &health, QString *error)
{
    const auto backlogs = store.outboxBacklog(error);
    if (!backlogs)
        return false;
    for (StationHealth &station : health)
        station.unpublished = backlogOf(*backlogs, station.name);
    return true;
}

} // namespace

qint64 stationIntervalMs(const Station &station)
{
    if (station.intervalMs >= 0)
        return station.intervalMs;
    return station.callIn ? kDefaultCallInIntervalMs : kDefaultIntervalMs;
}

std::optional<std::vector<StationHealth>> healthFromStore(StoreReader &store, const std::vector<Station> &stations,
                                                          const QDateTime &nowUtc, qint64 staleAfterSeconds,
                                                          QString *error)
{
    const auto runs = store.collections(nowUtc.addSecs(-24 * 3600), error);
    if (!runs)
        return std::nullopt;
    return healthFromStore(store, stations, *runs, nowUtc, staleAfterSeconds, error);
}

std::optional<std::vector<StationHealth>> healthFromStore(StoreReader &store, const std::vector<Station> &stations,
                                                          const std::vector<CollectionRow> &runs,
                                                          const QDateTime &nowUtc, qint64 staleAfterSeconds,
                                                          QString *error)
{
    const auto known = store.stations(error);
    if (!known)
        return std::nullopt;
    QHash<QString, const StationRow *> byName;
    for (const StationRow &row : *known)
        byName.insert(row.name, &row);
    std::vector<StationRow> rows;
    for (const Station &station : stations) {
        const StationRow *found = byName.value(station.name);
        rows.push_back(found ? *found : StationRow{station.name, {}, {}, {}, {}, {}});
    }
    std::vector<StationHealth> health = stationHealth(rows, runs, nowUtc, staleAfterSeconds);
    for (size_t i = 0; i < stations.size(); ++i)
        setInterval(health[i], stationIntervalMs(stations[i]));
    if (!addUnpublished(store, health, error))
        return std::nullopt;
    // Asked only of a fleet with stations that call in: the others' report stays as it was.
    if (std::none_of(stations.begin(), stations.end(), [](const Station &s) { return s.callIn.has_value(); }))
        return health;
    const auto lines = store.callInStates(error);
    if (!lines)
        return std::nullopt;
    for (size_t i = 0; i < stations.size(); ++i) {
        if (!stations[i].callIn)
            continue;
        const auto found = std::find_if(lines->begin(), lines->end(),
                                        [&](const CallInState &line) { return line.station == stations[i].name; });
        health[i].callIn = callInHealth(found != lines->end() ? std::optional(*found) : std::nullopt, nowUtc);
    }
    return health;
}

std::vector<StationHealth> healthFromFiles(const std::vector<Station> &stations, const QDateTime &nowUtc,
                                           qint64 staleAfterSeconds, QStringList *notes)
{
    std::vector<StationRow> rows;
    std::vector<CollectionRow> runs;
    for (const Station &station : stations) {
        // A station without a history has never been collected since collect kept one.
        const HistoryText history = readHistoryFile(historyFilePath(station.output));
        if (notes && !history.ok)
            *notes << QStringLiteral("%1: its history was not read: %2").arg(station.name, history.error);
        if (notes && !history.note.isEmpty())
            *notes << QStringLiteral("%1: %2").arg(station.name, history.note);
        const std::vector<CollectionRow> own = historyRuns(history.bytes, station.name);
        rows.push_back(stationRowFromRuns(station.name, own));
        runs.insert(runs.end(), own.begin(), own.end());
    }
    std::vector<StationHealth> health = stationHealth(rows, runs, nowUtc, staleAfterSeconds);
    for (size_t i = 0; i < stations.size(); ++i) {
        setInterval(health[i], stationIntervalMs(stations[i]));
        health[i].lastReading = lastRowStamp(stations[i].output);
        if (!stations[i].callIn)
            continue;
        const CallInLineRead line = readCallInLine(stations[i].output, stations[i].name);
        if (notes && !line.error.isEmpty())
            *notes << QStringLiteral("%1: its call-in line was not read: %2").arg(stations[i].name, line.error);
        health[i].callIn = callInHealth(line.state, nowUtc);
    }
    return health;
}

QString lastRowStamp(const QString &csvPath)
{
    // Only a regular file: opening a pipe given as an output could wait for ever.
    if (!checkSmallFile(csvPath, std::numeric_limits<qint64>::max()).ok())
        return {};
    QFile file(csvPath);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(std::max<qint64>(0, file.size() - kTailBytes)))
        return {};
    const QList<QByteArray> lines = file.read(kTailBytes).trimmed().split('\n');
    // A file of the heading alone has no row; a tail cut mid-file may begin mid-line.
    if (lines.isEmpty() || (lines.size() == 1 && file.size() <= kTailBytes))
        return {};
    return QString::fromLatin1(lines.last().left(lines.last().indexOf(',')).trimmed());
}

} // namespace ostrand::collect
