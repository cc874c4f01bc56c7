#include "store_sink.h"

#include "collect/grid_readings.h"
#include "collect/station_collector.h"
#include "cumulative/collection_cursor.h"
#include "platform/clock.h"
#include "store/run_result.h"

namespace ostrand::collect {
namespace {

// The station's port as its stations row shows it: COMn or the device's path.
QString portText(const Station &station)
{
    return station.lineChoice.devicePath.isEmpty() ? QStringLiteral("COM%1").arg(station.lineChoice.comNumber)
                                                   : station.lineChoice.devicePath;
}

// The first few clashes by what was stored and what came, the rest counted.
QString clashWarning(const std::vector<StoredReading> &clashes)
{
    constexpr size_t kShown = 5;
    QStringList shown;
    for (size_t i = 0; i < clashes.size() && i < kShown; ++i)
        shown << QStringLiteral("channel %1 at %2 (%3 local) read as %4")
                     .arg(clashes[i].channel)
                     .arg(utcText(clashes[i].timeUtc), clashes[i].timeLocal)
                     .arg(clashes[i].value, 0, 'g', 15);
    const QString more = clashes.size() > kShown ? QStringLiteral("; and %1 more").arg(clashes.size() - kShown)
                                                 : QString();
    return QStringLiteral("%1 readings came with times already stored under other values (was the meter's clock "
                          "set back?); they are kept in the clashes table: %2%3")
        .arg(clashes.size())
        .arg(shown.join(QStringLiteral("; ")), more);
}

} // namespace

StoreSink::StoreSink(const StoreLocation &location, const Clock &clock) : location_(location), clock_(clock) {}

StoreSink::~StoreSink() = default;

void StoreSink::startStation()
{
    startedUtc_ = QDateTime::fromMSecsSinceEpoch(clock_.utcMs(), Qt::UTC);
    runStored_ = false;
    committedUtc_ = QDateTime();
}

ReadingStore *StoreSink::store(StationReport &report)
{
    if (!store_) {
        QString error;
        store_ = openReadingStore(location_, &error);
        if (!store_)
            report.errors << error;
    }
    return store_.get();
}

// With a store, the file and the store each keep a cursor: a run killed
// between the two writes leaves the file ahead, another host's run (or a file
// restored from a backup) the store. Reading on from the earlier one gives
// each what the other lacks: the store skips what it holds, the file what it has.
bool StoreSink::open(const Station &station, StationReport &report, bool *retryable)
{
    memory_.reset();
    storeCursor_.reset();
    if (!store(report))
        return false;
    QString error;
    memory_ = store_->remembered(station.name, &error);
    if (!memory_) {
        report.errors << error;
        store_.reset();
        return false;
    }
    storeCursor_ = memory_->cursor.isEmpty() ? std::nullopt : parseLogCursor(memory_->cursor.toLatin1());
    if (!memory_->cursor.isEmpty() && (!storeCursor_ || !storeCursor_->isSet())) {
        *retryable = false;
        report.errors << QStringLiteral("%1: the collection cursor of station %2 is damaged (%3): delete its "
                                        "row in collection_cursors to collect the whole log again")
                             .arg(store_->name(), station.name, memory_->cursor);
        return false;
    }
    return true;
}

void StoreSink::prepare(const Station &station, const NewReadings &readings, StationReport &report)
{
    readings_.clear();
    nextCursor_.clear();
    if (!readings.grid)
        return;
    // The reading before the first one read is known only when the read went
    // on from the store's own cursor; from an earlier record a repeated autumn
    // hour is placed by the stamps' order alone.
    const std::optional<LogCursor> &cursor = readings.resumedAfter;
    const bool fromStoreCursor = !storeCursor_ || (cursor && *storeCursor_ == *cursor);
    StationTime time(station.timeZone(), station.clock, fromStoreCursor ? memory_->lastReadingUtc : std::nullopt);
    readings_ = gridReadings(*readings.grid, *readings.gridState, station.name, time, station.survey);
    report.skippedHourStamps = time.skippedHourStamps();
    if (readings.newCursor.isSet())
        nextCursor_ = QString::fromLatin1(logCursorText(readings.newCursor));
}

bool StoreSink::commit(const Station &station, StationReport &report)
{
    return storeRun(station, report, true, nextCursor_, std::move(readings_));
}

void StoreSink::recordFailure(const Station &station, StationReport &report)
{
    if (!runStored_ && store(report))
        storeRun(station, report, false, QString(), {});
}

// The run's readings, its collections row, the station's row and its cursor, in one transaction.
bool StoreSink::storeRun(const Station &station, StationReport &report, bool ok, const QString &cursor,
                         std::vector<StoredReading> readings)
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(clock_.utcMs(), Qt::UTC);
    StationWrite write;
    write.readings = std::move(readings);
    write.cursor = cursor;
    write.publish = publish_;
    write.station = StationRow{station.name, portText(station), QString::fromUtf8(station.timeZone().id()), now,
                               ok ? std::optional<QDateTime>(now) : std::nullopt,
                               ok ? QString() : report.errors.value(report.errors.size() - 1)};
    write.collection = CollectionRow{station.name, startedUtc_, now, runResultText(ok ? RunResult::Ok : RunResult::Failed),
                                     0, report.attempts, ok ? QString() : report.errors.join(QStringLiteral("; "))};
    QString error;
    const std::optional<WriteResult> written = store_->write(write, &error);
    if (!written) {
        report.errors << error;
        store_.reset();
        return false;
    }
    runStored_ = true;
    if (ok)
        committedUtc_ = now;
    report.newReadings += written->inserted;
    report.duplicates += written->duplicates;
    report.clashes += int(written->clashes.size());
    if (!written->clashes.empty())
        report.errors << clashWarning(written->clashes);
    if (report.skippedHourStamps > 0)
        report.errors << QStringLiteral("%1 logging instants are stamped in the hour the clock skips in spring; "
                                        "they are stored at the zone's standard offset (is the meter's clock kept on "
                                        "standard time? then set clock = standard)")
                             .arg(report.skippedHourStamps);
    return true;
}

} // namespace ostrand::collect
