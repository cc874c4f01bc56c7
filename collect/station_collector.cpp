#include "station_collector.h"

#include "collect/collection_lock.h"
#include "collect/dialled_lines.h"
#include "collect/file_sink.h"
#include "collect/quiet_display.h"
#include "collect/store_sink.h"
#include "download/download_engine.h"
#include "download/download_outcome.h"
#include "collect/station_line.h"
#include "link/meter_link.h"
#include "platform/event_pump.h"
#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QElapsedTimer>

namespace ostrand::collect {
namespace {

} // namespace

PortCollector::PortCollector(const CollectOptions &options)
    : PortCollector(options, std::make_unique<DialledLines>(options.comLinkDirs))
{
}

PortCollector::PortCollector(const CollectOptions &options, std::unique_ptr<LineSource> lines)
    : options_(options), lines_(std::move(lines))
{
    sinks_.push_back(std::make_unique<CumulativeFileSink>(lines_->clock()));
    if (options.store) {
        auto store = std::make_unique<StoreSink>(*options.store, lines_->clock());
        store->setPublishing(options.publish);
        store_ = store.get();
        sinks_.push_back(std::move(store));
    }
}

PortCollector::~PortCollector() = default;

StationReport PortCollector::collect(const Station &station)
{
    StationReport report;
    report.name = station.name;
    QElapsedTimer timer;
    timer.start();
    std::optional<CollectionLock> lock;
    if (!options_.stationsPath.isEmpty()) {
        lock.emplace(options_.stationsPath, station.name);
        if (lock->state() == CollectionLock::State::Busy) {
            report.skipped = lockedElsewhereText();
            return report;
        }
        if (lock->state() == CollectionLock::State::Failed) {
            report.attempts = 1;
            report.errors << lock->error();
            return report;
        }
    }
    if (store_)
        store_->startStation();
    if (options_.claim && options_.claimSinceEachOperation) {
        ReadingStore *store = store_->store(report);
        QString error;
        const std::optional<QDateTime> now = store ? store->databaseNowUtc(&error) : std::nullopt;
        if (!now) {
            report.attempts = 1;
            if (!error.isEmpty())
                report.errors << error;
            return report;
        }
        options_.startedUtc = *now;
    }
    if (options_.claim && !claim(station, report))
        return report;
    bool retryable = true;
    while (!attempt(station, report, &retryable) && retryable && report.attempts <= options_.retries) {
        // Held through the pause, the claim would keep every other collector
        // off a meter this one cannot reach now.
        releaseClaim(station);
        lines_->pump().sleep(options_.retryPauseMs);
        if (options_.claim && !claimAgain(station, report))
            break;
    }
    // Another collector took the station during a pause and collected it, or held it too long.
    if (!report.skipped.isEmpty()) {
        report.seconds = timer.elapsed() / 1000.0;
        return report;
    }
    if (!report.succeeded) {
        for (const auto &sink : sinks_)
            sink->recordFailure(station, report);
    }
    // Held from before the first exchange until the commit.
    releaseClaim(station);
    report.seconds = timer.elapsed() / 1000.0;
    return report;
}

QString lockedElsewhereText()
{
    return QStringLiteral("another collection holds the lock");
}

QString heldElsewhereText(qint64 waitedMs)
{
    return QStringLiteral("held by another collector for %1 s").arg(waitedMs / 1000);
}

bool PortCollector::attempt(const Station &station, StationReport &report, bool *retryable)
{
    ++report.attempts;
    const std::unique_ptr<StationLine> line = lines_->open(station, &report.errors);
    if (!line)
        return false;
    report.succeeded = collectOver(line->link(), station, report, retryable);
    line->close();
    return report.succeeded;
}

namespace {

QString addressText(const LogAddress &a)
{
    return QString::asprintf("%02X %02X %02X", a.bank, a.page, a.offset);
}

// What the report says when the cursor could not be used.
QString cursorWarning(const DownloadEngine &engine, const LogCursor &cursor)
{
    if (engine.cursorCheck() == CursorCheck::OutsideLog)
        return QStringLiteral("the meter's log no longer holds the last record collected (at %1): it was "
                              "overwritten or the meter was reset; the whole log was collected, and up to %2 "
                              "records logged after that one may have been lost")
            .arg(addressText(cursor.address))
            .arg(engine.slotsPastCursor());
    return QStringLiteral("another record stands where the last record collected was (at %1): the meter was "
                          "reset or its log overwritten; the whole log was collected")
        .arg(addressText(cursor.address));
}

} // namespace

bool PortCollector::collectOver(MeterLink &link, const Station &station, StationReport &report, bool *retryable)
{
    for (const auto &sink : sinks_) {
        if (!sink->open(station, report, retryable))
            return false;
    }
    // Each sink says after which record it lacks nothing: read on from the
    // last one's, or the whole log when any of them wants it, and the engine
    // goes back to an earlier one when the record there is not the one it held.
    std::optional<LogCursor> resumeAfter;
    std::optional<LogCursor> otherResumeAfter;
    bool wholeLog = false;
    bool exactTotals = false;
    for (const auto &sink : sinks_) {
        wholeLog = wholeLog || !sink->resumeAfter();
        exactTotals = exactTotals || sink->wantsExactTotals();
    }
    if (!wholeLog) {
        resumeAfter = sinks_.back()->resumeAfter();
        for (const auto &sink : sinks_) {
            if (*sink->resumeAfter() != *resumeAfter) {
                otherResumeAfter = sink->resumeAfter();
                break;
            }
        }
    }

    QuietDisplay display;
    ResultsGrid grid;
    GridState gridState;
    gridState.keepExactTotals = exactTotals;
    DownloadEngine engine(link, grid, gridState, display);
    DownloadOptions options;
    options.slave = station.lineChoice.slave;
    options.portableMeter = station.portable;
    options.resumeAfter = resumeAfter;
    options.otherResumeAfter = otherResumeAfter;
    const DownloadResult result = engine.downloadLog(options);
    if (result == DownloadResult::NoRecords)
        return handOver(station, NewReadings{}, report);
    if (result != DownloadResult::Complete) {
        display.setStatus(downloadStatusText(result));
        report.errors << display.failure();
        return false;
    }
    const std::optional<LogCursor> &cursor = engine.resumedAfter();
    if (cursor && engine.cursorCheck() != CursorCheck::Used) {
        report.errors << cursorWarning(engine, *cursor);
        report.recordsMaybeLost = engine.slotsPastCursor();
    }
    const NewReadings readings{&grid, &gridState, cursor,
                               engine.lastRecord().isSet() ? engine.lastRecord() : cursor.value_or(LogCursor{})};
    if (!handOver(station, readings, report))
        return false;
    // Only now that every sink holds the rows may the meter forget them.
    display.details.clear();
    engine.confirmDownload();
    report.errors << display.details;
    return true;
}

bool PortCollector::handOver(const Station &station, const NewReadings &readings, StationReport &report)
{
    for (const auto &sink : sinks_)
        sink->prepare(station, readings, report);
    for (const auto &sink : sinks_) {
        if (!sink->commit(station, report))
            return false;
    }
    return true;
}

std::optional<StationClaim> PortCollector::tryClaim(const Station &station, StationReport &report)
{
    ReadingStore *store = store_->store(report);
    if (!store)
        return std::nullopt;
    // A run this collector committed itself is no reason to skip the station.
    const QDateTime committed = store_->committedUtc();
    const QDateTime since = committed.isValid() ? std::max(options_.startedUtc, committed.addSecs(1))
                                                : options_.startedUtc;
    QString error;
    const std::optional<StationClaim> claimed = store->claim(station.name, since, &error);
    if (!claimed) {
        report.errors << error;
        store_->drop();
    } else if (*claimed == StationClaim::AlreadyCollected) {
        report.skipped = QStringLiteral("collected by another collector since this one started");
    }
    return claimed;
}

bool PortCollector::claim(const Station &station, StationReport &report)
{
    const std::optional<StationClaim> claimed = tryClaim(station, report);
    if (claimed == StationClaim::HeldElsewhere) {
        report.claimedElsewhere = true;
        report.skipped = QStringLiteral("another collector is collecting it");
    }
    return claimed == StationClaim::Taken;
}

bool PortCollector::claimAgain(const Station &station, StationReport &report)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const std::optional<StationClaim> claimed = tryClaim(station, report);
        if (claimed != StationClaim::HeldElsewhere)
            return claimed == StationClaim::Taken;
        if (waited.elapsed() >= options_.claimWaitMs) {
            report.skipped = heldElsewhereText(waited.elapsed());
            return false;
        }
        lines_->pump().sleep(kClaimPollMs);
    }
}

void PortCollector::releaseClaim(const Station &station)
{
    if (!options_.claim || !store_)
        return;
    // A connection dropped after a failure took its claims with it.
    if (ReadingStore *store = store_->connected())
        store->releaseClaim(station.name);
}

} // namespace ostrand::collect
