#include "health_sources.h"

#include "cumulative/collection_history.h"
#include "platform/small_file.h"

#include <QFile>
#include <limits>

namespace ostrand::collect {
namespace {

// A row is a stamp and eight values: far less than this.
constexpr qint64 kTailBytes = 4096;

} // namespace

std::optional<std::vector<StationHealth>> healthFromStore(StoreReader &store, const std::vector<Station> &stations,
                                                          const QDateTime &nowUtc, qint64 staleAfterSeconds,
                                                          QString *error)
{
    const auto known = store.stations(error);
    if (!known)
        return std::nullopt;
    const auto runs = store.collections(nowUtc.addSecs(-24 * 3600), error);
    if (!runs)
        return std::nullopt;
    std::vector<StationRow> rows;
    for (const Station &station : stations) {
        const auto found = std::find_if(known->begin(), known->end(),
                                        [&](const StationRow &row) { return row.name == station.name; });
        rows.push_back(found != known->end() ? *found : StationRow{station.name, {}, {}, {}, {}, {}});
    }
    return stationHealth(rows, *runs, nowUtc, staleAfterSeconds);
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
    for (size_t i = 0; i < stations.size(); ++i)
        health[i].lastReading = lastRowStamp(stations[i].output);
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
