#include "file_sink.h"

#include "collect/quiet_display.h"
#include "collect/station_collector.h"
#include "cumulative/cumulative_csv.h"
#include "cumulative/output_guard.h"
#include "platform/clock.h"
#include "table/output_file.h"

#include <QFileInfo>

namespace ostrand::collect {
namespace {

bool fileError(StationReport &report, const QString &why)
{
    report.errors << QStringLiteral("Error putting into file!! (%1)").arg(why);
    return false;
}

} // namespace

bool CumulativeFileSink::open(const Station &station, StationReport &report, bool *retryable)
{
    exists_ = false;
    existing_.clear();
    fileCursor_.reset();
    writes_ = false;
    QuietDisplay display;
    if (!checkStationOutputBeforeStart(station.output, display)) {
        *retryable = false;
        report.errors << display.failure();
        return false;
    }
    exists_ = QFileInfo::exists(station.output);
    std::optional<CursorState> state;
    const QString cursorPath = cursorFilePath(station.output);
    QString error;
    if (exists_) {
        if (!readCumulativeFile(station.output, &existing_, &error))
            return fileError(report, error);
        if (QFileInfo(cursorPath).exists() || QFileInfo(cursorPath).isSymLink()) {
            QByteArray cursorText;
            if (!readCumulativeFile(cursorPath, &cursorText, &error))
                return fileError(report, error);
            state = parseCursorState(cursorText);
            // Guessing where the last run stopped could store rows twice or skip them.
            if (!state) {
                *retryable = false;
                return fileError(report, QStringLiteral("%1 is damaged: remove it to collect the whole log again, "
                                                        "rows the output already holds then being left out")
                                             .arg(cursorPath));
            }
        }
    }
    // Without the output the rows went elsewhere: the whole log is wanted.
    fileCursor_ = state ? cursorForOutput(*state, existing_) : std::nullopt;
    if (state && !cursorBelongsTo(*state, existing_))
        report.errors << QStringLiteral("%1 was not written for %2 as it is now (copied from another station, or "
                                        "the output changed by hand): the whole log was read, and only rows the "
                                        "output lacks were added")
                             .arg(cursorPath, station.output);
    return true;
}

void CumulativeFileSink::prepare(const Station &, const NewReadings &readings, StationReport &)
{
    writes_ = readings.grid != nullptr;
    if (!writes_)
        return;
    const std::optional<LogCursor> &cursor = readings.resumedAfter;
    // Past the file's own cursor every row is new to it; read from anywhere
    // else, the file may hold some of the rows already.
    const bool fromFileCursor = fileCursor_ && cursor && *fileCursor_ == *cursor;
    const Overlap overlap = exists_ && !fromFileCursor ? Overlap::RowsEqualToHeldOnes : Overlap::None;
    const CsvAppend added = appendRows(existing_, outputFileBytes(*readings.grid, *readings.gridState), overlap);
    added_ = added.bytes;
    newRows_ = added.newRows;
    headingsChanged_ = added.headingsChanged;
    const LogCursor &newCursor = readings.newCursor;
    outputChanges_ = !exists_ || added.newRows > 0 || added.headingsChanged;
    const bool cursorMoves = newCursor.isSet() && (!fileCursor_ || *fileCursor_ != newCursor);
    nextCursor_.reset();
    if (newCursor.isSet() && (outputChanges_ || cursorMoves)) {
        const QByteArray written = outputChanges_ ? added_ : existing_;
        nextCursor_ = CursorState{newCursor, outputDigest(written), fileCursor_.value_or(LogCursor{}),
                                  exists_ ? outputDigest(existing_) : QByteArray()};
    }
}

bool CumulativeFileSink::commit(const Station &station, StationReport &report)
{
    if (!writes_)
        return true;
    QString error;
    if (nextCursor_ && !saveCumulativeFile(cursorFilePath(station.output), cursorStateText(*nextCursor_), &error))
        return fileError(report, error);
    // The old file is copied aside, not moved: killed in between, the next run
    // finds it where it was and sets it aside again.
    const bool saved = (!headingsChanged_ || saveArchive(station.output, QDateTime::fromMSecsSinceEpoch(clock_.utcMs()), existing_, &error))
                       && (!outputChanges_ || saveCumulativeFile(station.output, added_, &error));
    if (!saved)
        return fileError(report, error);
    // Summed over the attempts: rows an attempt that failed later wrote stay written.
    report.newRows += newRows_;
    return true;
}

} // namespace ostrand::collect
