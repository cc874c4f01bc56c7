#include "station_collector.h"

#include "cumulative/collection_cursor.h"
#include "cumulative/cumulative_csv.h"
#include "collect/grid_readings.h"
#include "store/reading_store.h"
#include "cumulative/output_guard.h"
#include "download/download_display.h"
#include "download/download_engine.h"
#include "download/download_outcome.h"
#include "line/meter_line.h"
#include "link/modem_dialer.h"
#include "platform/save_file.h"
#include "table/grid_state.h"
#include "table/output_file.h"
#include "table/results_grid.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace ostrand::collect {
namespace {

// A modem takes "+++" as its escape only after a second or so of silence on the line.
constexpr int kEscapeLeadInMs = 1200;

// Keeps what the engine would have shown: the last status and the reasons beside it.
class QuietDisplay : public DownloadDisplay {
public:
    void setStatus(const QString &text) override { status = text; }
    void setProgress(int) override {}
    void setRecordsUsed(const QString &) override {}
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int, const QString &) override {}
    void showDetail(const QString &text) override { details << text; }

    // The status with its reasons, as one error text.
    QString failure() const
    {
        return details.isEmpty() ? status : status + QStringLiteral(" (") + details.join(QStringLiteral("; ")) + u')';
    }

    QString status;
    QStringList details;
};

} // namespace

PortCollector::PortCollector(const CollectOptions &options)
    : options_(options), line_(std::make_unique<MeterLine>(options.comLinkDirs))
{
}

PortCollector::~PortCollector() = default;

StationReport PortCollector::collect(const Station &station)
{
    StationReport report;
    report.name = station.name;
    QElapsedTimer timer;
    timer.start();
    startedUtc_ = QDateTime::currentDateTimeUtc();
    runStored_ = false;
    committedUtc_ = QDateTime();
    if (options_.claim && !claim(station, report))
        return report;
    bool retryable = true;
    while (!attempt(station, report, &retryable) && retryable && report.attempts <= options_.retries) {
        // Held through the pause, the claim would keep every other collector
        // off a meter this one cannot reach now.
        if (options_.claim && store_)
            store_->releaseClaim(station.name);
        line_->pump().sleep(options_.retryPauseMs);
        if (options_.claim && !claimAgain(station, report))
            break;
    }
    // Another collector took the station during a pause and collected it, or held it too long.
    if (!report.skipped.isEmpty()) {
        report.seconds = timer.elapsed() / 1000.0;
        return report;
    }
    // A failed station's run is recorded too, for the health report to count.
    if (options_.store && !runStored_ && openStore(report))
        storeRun(station, report, false, QString(), {});
    // Held from before the first exchange until the commit.
    if (options_.claim && store_)
        store_->releaseClaim(station.name);
    report.seconds = timer.elapsed() / 1000.0;
    return report;
}

QString heldElsewhereText(qint64 waitedMs)
{
    return QStringLiteral("held by another collector for %1 s").arg(waitedMs / 1000);
}

bool PortCollector::attempt(const Station &station, StationReport &report, bool *retryable)
{
    ++report.attempts;
    line_->choose(station.lineChoice);
    if (!station.dial.isEmpty()) {
        QString status;
        bool dialSent = false;
        ModemDialer dialer(line_->link(), line_->pump(),
                           DialerView{[&] { return status; }, [&](const QString &text) { status = text; },
                                      [&] { dialSent = true; }});
        const DialResult dialled = dialer.dialModem(station.dial);
        if (dialled != DialResult::Connected) {
            report.errors << (dialled == DialResult::PortNotOpen
                                  ? line_->port().errorString()
                                  : QStringLiteral("the dial did not connect: %1").arg(status.simplified()));
            // A modem still dialling would otherwise keep the line for the next station.
            if (dialSent)
                hangUp();
            line_->close();
            return false;
        }
    }
    report.succeeded = download(station, report, retryable);
    if (!station.dial.isEmpty())
        hangUp();
    line_->close();
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

bool PortCollector::download(const Station &station, StationReport &report, bool *retryable)
{
    QuietDisplay display;
    if (!checkStationOutputBeforeStart(station.output, display)) {
        *retryable = false;
        report.errors << display.failure();
        return false;
    }
    const auto fileError = [&](const QString &why) {
        report.errors << QStringLiteral("Error putting into file!! (%1)").arg(why);
        return false;
    };
    const bool exists = QFileInfo::exists(station.output);
    QByteArray existing;
    std::optional<CursorState> state;
    const QString cursorPath = cursorFilePath(station.output);
    QString error;
    if (exists) {
        if (!readCumulativeFile(station.output, &existing, &error))
            return fileError(error);
        if (QFileInfo(cursorPath).exists() || QFileInfo(cursorPath).isSymLink()) {
            QByteArray cursorText;
            if (!readCumulativeFile(cursorPath, &cursorText, &error))
                return fileError(error);
            state = parseCursorState(cursorText);
            // Guessing where the last run stopped could store rows twice or skip them.
            if (!state) {
                *retryable = false;
                return fileError(QStringLiteral("%1 is damaged: remove it to collect the whole log again, "
                                                "rows the output already holds then being left out")
                                     .arg(cursorPath));
            }
        }
    }
    // Without the output the rows went elsewhere: the whole log is wanted.
    const std::optional<LogCursor> fileCursor = state ? cursorForOutput(*state, existing) : std::nullopt;
    if (state && !cursorBelongsTo(*state, existing))
        report.errors << QStringLiteral("%1 was not written for %2 as it is now (copied from another station, or "
                                        "the output changed by hand): the whole log was read, and only rows the "
                                        "output lacks were added")
                             .arg(cursorPath, station.output);
    // With a store, the file and the store each keep a cursor: a run killed
    // between the two writes leaves the file ahead, another host's run (or a
    // file restored from a backup) the store. Reading on from the earlier one
    // gives each what the other lacks: the store skips what it holds, the file
    // what it has.
    std::optional<StationMemory> memory;
    std::optional<LogCursor> storeCursor;
    if (options_.store) {
        if (!openStore(report))
            return false;
        memory = store_->remembered(station.name, &error);
        if (!memory) {
            report.errors << error;
            store_.reset();
            return false;
        }
        storeCursor = memory->cursor.isEmpty() ? std::nullopt : parseLogCursor(memory->cursor.toLatin1());
        if (!memory->cursor.isEmpty() && (!storeCursor || !storeCursor->isSet())) {
            *retryable = false;
            report.errors << QStringLiteral("%1: the collection cursor of station %2 is damaged (%3): delete its "
                                            "row in collection_cursors to collect the whole log again")
                                 .arg(store_->name(), station.name, memory->cursor);
            return false;
        }
    }

    ResultsGrid grid;
    GridState gridState;
    gridState.keepExactTotals = memory.has_value();
    DownloadEngine engine(line_->link(), grid, gridState, display);
    DownloadOptions options;
    options.slave = station.lineChoice.slave;
    options.portableMeter = station.portable;
    if (!memory) {
        options.resumeAfter = fileCursor;
    } else if (fileCursor && storeCursor) {
        // Either one alone lacking a cursor wants the whole log.
        options.resumeAfter = storeCursor;
        if (*fileCursor != *storeCursor)
            options.otherResumeAfter = fileCursor;
    }
    const DownloadResult result = engine.downloadLog(options);
    if (result == DownloadResult::NoRecords)
        return !memory || storeRun(station, report, true, QString(), {});
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

    // Past the file's own cursor every row is new to it; read from anywhere
    // else, the file may hold some of the rows already.
    const bool fromFileCursor = fileCursor && cursor && *fileCursor == *cursor;
    const Overlap overlap = exists && !fromFileCursor ? Overlap::RowsEqualToHeldOnes : Overlap::None;
    const CsvAppend added = appendRows(existing, outputFileBytes(grid, gridState), overlap);
    const LogCursor newCursor = engine.lastRecord().isSet() ? engine.lastRecord() : cursor.value_or(LogCursor{});
    const bool outputChanges = !exists || added.newRows > 0 || added.headingsChanged;
    const bool cursorMoves = newCursor.isSet() && (!fileCursor || *fileCursor != newCursor);
    if (newCursor.isSet() && (outputChanges || cursorMoves)) {
        const QByteArray written = outputChanges ? added.bytes : existing;
        const CursorState next{newCursor, outputDigest(written), fileCursor.value_or(LogCursor{}),
                               exists ? outputDigest(existing) : QByteArray()};
        if (!saveCumulativeFile(cursorPath, cursorStateText(next), &error))
            return fileError(error);
    }
    // The old file is copied aside, not moved: killed in between, the next run
    // finds it where it was and sets it aside again.
    const bool saved = (!added.headingsChanged
                        || saveArchive(station.output, QDateTime::currentDateTime(), existing, &error))
                       && (!outputChanges || saveCumulativeFile(station.output, added.bytes, &error));
    if (!saved)
        return fileError(error);
    // Summed over the attempts: rows an attempt that failed later wrote stay written.
    report.newRows += added.newRows;
    if (memory) {
        // The reading before the first one read is known only when the read
        // went on from the store's own cursor; from an earlier record a repeated
        // autumn hour is placed by the stamps' order alone.
        const bool fromStoreCursor = !storeCursor || (cursor && *storeCursor == *cursor);
        StationTime time(station.timeZone(), station.clock, fromStoreCursor ? memory->lastReadingUtc : std::nullopt);
        std::vector<StoredReading> readings = gridReadings(grid, gridState, station.name, time);
        report.skippedHourStamps = time.skippedHourStamps();
        if (!storeRun(station, report, true, newCursor.isSet() ? QString::fromLatin1(logCursorText(newCursor)) : QString(),
                      std::move(readings)))
            return false;
    }
    // Only now that the rows are on disk, and in the store, may the meter forget them.
    display.details.clear();
    engine.confirmDownload();
    report.errors << display.details;
    return true;
}

std::optional<StationClaim> PortCollector::tryClaim(const Station &station, StationReport &report)
{
    if (!openStore(report))
        return std::nullopt;
    // A run this collector committed itself is no reason to skip the station.
    const QDateTime since = committedUtc_.isValid() ? std::max(options_.startedUtc, committedUtc_.addSecs(1))
                                                    : options_.startedUtc;
    QString error;
    const std::optional<StationClaim> claimed = store_->claim(station.name, since, &error);
    if (!claimed) {
        report.errors << error;
        store_.reset();
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
        line_->pump().sleep(kClaimPollMs);
    }
}

bool PortCollector::openStore(StationReport &report)
{
    if (store_)
        return true;
    QString error;
    store_ = openReadingStore(*options_.store, &error);
    if (!store_)
        report.errors << error;
    return bool(store_);
}

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

// The run's readings, its collections row, the station's row and its cursor, in one transaction.
bool PortCollector::storeRun(const Station &station, StationReport &report, bool ok, const QString &cursor,
                             std::vector<StoredReading> readings)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    StationWrite write;
    write.readings = std::move(readings);
    write.cursor = cursor;
    write.station = StationRow{station.name, portText(station), QString::fromUtf8(station.timeZone().id()), now,
                               ok ? std::optional<QDateTime>(now) : std::nullopt,
                               ok ? QString() : report.errors.value(report.errors.size() - 1)};
    write.collection = CollectionRow{station.name, startedUtc_, now, ok ? QStringLiteral("ok") : QStringLiteral("failed"),
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

void PortCollector::hangUp()
{
    QString status;
    ModemDialer dialer(line_->link(), line_->pump(),
                       DialerView{[&] { return status; }, [&](const QString &text) { status = text; }, [] {}});
    line_->pump().sleep(kEscapeLeadInMs);
    dialer.hangUpModem();
}

} // namespace ostrand::collect
