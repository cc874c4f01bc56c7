#include "station_collector.h"

#include "collect/collection_cursor.h"
#include "collect/cumulative_csv.h"
#include "collect/output_guard.h"
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
    bool retryable = true;
    while (!attempt(station, report, &retryable) && retryable && report.attempts <= options_.retries)
        line_->pump().sleep(options_.retryPauseMs);
    report.seconds = timer.elapsed() / 1000.0;
    return report;
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
    const std::optional<LogCursor> cursor = state ? cursorForOutput(*state, existing) : std::nullopt;

    ResultsGrid grid;
    GridState gridState;
    DownloadEngine engine(line_->link(), grid, gridState, display);
    DownloadOptions options;
    options.slave = station.lineChoice.slave;
    options.portableMeter = station.portable;
    options.resumeAfter = cursor;
    const DownloadResult result = engine.downloadLog(options);
    if (result == DownloadResult::NoRecords)
        return true;
    if (result != DownloadResult::Complete) {
        display.setStatus(downloadStatusText(result));
        report.errors << display.failure();
        return false;
    }
    if (cursor && engine.cursorCheck() != CursorCheck::Used) {
        report.errors << cursorWarning(engine, *cursor);
        report.recordsMaybeLost = engine.slotsPastCursor();
    }

    // Past a cursor every row is new; only a file from before cursors were kept
    // may hold the log's first rows already.
    const Overlap overlap = exists && !state ? Overlap::RowsEqualToHeldOnes : Overlap::None;
    const CsvAppend added = appendRows(existing, outputFileBytes(grid, gridState), overlap);
    const LogCursor newCursor = engine.lastRecord().isSet() ? engine.lastRecord() : cursor.value_or(LogCursor{});
    const bool outputChanges = !exists || added.newRows > 0 || added.headingsChanged;
    const bool cursorMoves = newCursor.isSet() && (!cursor || cursor->address != newCursor.address
                                                   || cursor->record != newCursor.record);
    if (newCursor.isSet() && (outputChanges || cursorMoves)) {
        const QByteArray written = outputChanges ? added.bytes : existing;
        const CursorState next{newCursor, outputDigest(written), cursor.value_or(LogCursor{}),
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
    report.newRows = added.newRows;
    // Only now that the rows are on disk may the meter forget them.
    display.details.clear();
    engine.confirmDownload();
    report.errors << display.details;
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
