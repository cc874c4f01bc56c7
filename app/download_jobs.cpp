#include "download_tab.h"

#include "app/download_relay.h"
#include "app/download_widgets.h"
#include "app/line_worker.h"
#include "app/output_question.h"
#include "download/download_engine.h"
#include "download/download_outcome.h"
#include "download/progress_text.h"
#include "link/meter_link.h"
#include "palm/palm_conversion_view.h"
#include "palm/palm_import.h"
#include "table/grid_layout.h"
#include "table/output_file.h"
#include "table/results_grid.h"

// The Download tab's work on the line's thread: the serial download and the
// handheld's file, each with its results handed back to the window.

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <algorithm>

namespace ostrand {
namespace {

const QString kSlaveIdRefused = QStringLiteral("Slave ID out of range (0 to 255): nothing downloaded");
const QString kCancelled = QStringLiteral("Cancelled: nothing written");

// Rows a run read before it failed or was stopped are only part of the log.
bool endedPartway(DownloadResult result)
{
    return result != DownloadResult::Complete && result != DownloadResult::NoRecords;
}

} // namespace

void DownloadTab::runSerialDownload(bool sinceLastTime)
{
    // One operation on the line at a time: a second download would spoil the
    // first; one clicked while a display poll runs starts as that poll ends.
    if (downloadRunning_ || gridLock_.busy())
        return;
    beginOperation(sinceLastTime ? sinceLastTimeButton_ : downloadButton_);
    const std::optional<int> slave = sources_.slaveId();
    if (!slave) {
        setStatus(kSlaveIdRefused);
        showEnd(kSlaveIdRefused, false);
        return;
    }
    if (!checkOutputBeforeStart(inProgramDir(outputFile_), *this)) {
        showEnd(statusLabel_->text(), false);
        return;
    }
    downloadRunning_ = true;
    // The grid is one: a Palm conversion cannot start inside this download either.
    gridInUse_ = std::make_unique<PalmJobGuard>(gridLock_);
    setStatus(sinceLastTime ? QStringLiteral("Last Time Downloading") : QStringLiteral("Downloading"));
    setOperationRunning(true);
    clearMeterBoxes();
    sources_.results.clear();

    DownloadOptions options;
    options.sinceLastTime = sinceLastTime;
    options.portableMeter = portableBox_->isChecked();
    options.slave = *slave;
    options.stopRequested = &sources_.line.stopFlag();
    const GridState startState = sources_.gridState;
    const int rows = sources_.results.rows();
    const int cols = sources_.results.cols();
    const QString output = inProgramDir(outputFile_);
    LineWorker &line = sources_.line;
    line.run([this, &line, options, startState, rows, cols, output](MeterLink &link) {
        // The line's own grid: the window's is copied from it a block at a time.
        ResultsGrid grid(rows, cols);
        GridState state = startState;
        DownloadRelay relay(line, *this, sources_.results, grid, state);
        DownloadEngine engine(link, grid, state, relay);
        DownloadResult result = engine.downloadLog(options);
        relay.copyAllRows();
        // The rows since the last download are only part of the log: a file
        // holding the rest is not replaced by them unasked.
        std::optional<OutputWrite> write = OutputWrite::Replace;
        if (result == DownloadResult::Complete && options.sinceLastTime && outputHoldsData(output)) {
            // The bar says what is held while the question waits for its answer.
            const int rowsRead = std::min(state.lastGridRow, grid.rows() - 1) - kHeadingRow;
            relay.setStep(rowsReadText(rowsRead));
            write = askHowToWrite(line, sources_.dialogs, {output, rowsRead, outputHeadingsMatch(output, grid, state)});
            // The meter kept logging while the question was open: what it
            // logged goes with the answer, or the confirmation would pass over it.
            if (write) {
                relay.setStep(QString());
                result = engine.readLoggedMeanwhile();
                relay.copyAllRows();
            }
        }
        // Stopped before the question came up is a Stop, not an answer.
        const QString notWritten = line.stopFlag() ? downloadStatusText(DownloadResult::Stopped) : kCancelled;
        if (!write) {
            relay.setStatus(notWritten);
            relay.showDetail(QStringLiteral("the meter was not told of this download: "
                                            "Since Last Time brings these rows again"));
        }
        const DownloadEnd end = !write ? DownloadEnd{result, false, notWritten, {}}
                                       : finishDownload(result, grid, state, output, relay, [&] {
            // The file is written: the meter is told, whatever Stop says now.
            const auto *stop = link.serial().stopFlag();
            link.serial().setStopFlag(nullptr);
            const ConfirmedTail tail = engine.confirmDownloadAndReadTail();
            link.serial().setStopFlag(stop);
            relay.copyAllRows();
            return tail;
        }, *write);
        const bool written = write && end.result == DownloadResult::Complete && !end.fileFailed;
        GridState ended = state;
        ended.incomplete = endedPartway(end.result);
        line.toWindow([this, ended, written, output, status = end.status] {
            sources_.gridState = ended;
            if (written)
                fileWritten(output);
            serialDownloadEnded(status, written);
        });
    });
}

void DownloadTab::serialDownloadEnded(const QString &status, bool written)
{
    showEnd(status, written);
    gridInUse_.reset();
    downloadRunning_ = false;
    setOperationRunning(false);
    endOperation();
    emit resultsChanged();
}

void DownloadTab::runPalmConversion()
{
    runPalmJob(false);
}

void DownloadTab::onGetIdListClicked()
{
    if (palmMode())
        runPalmJob(true);
}

namespace {

// The Palm controls as a conversion on the line's thread sees them: the
// choices as they were when it started, its changes sent to the window.
class PalmViewRelay : public PalmConversionView {
public:
    PalmViewRelay(LineWorker &line, PalmConversionView &tab, bool separate, QString listText, QStringList entries)
        : line_(line), tab_(tab), separate_(separate), listText_(std::move(listText)), entries_(std::move(entries))
    {
    }
    bool separateByModId() const override { return separate_; }
    QString idListText() const override { return listText_; }
    QStringList idListEntries() const override { return entries_; }
    void addIdListEntry(const QString &text) override
    {
        entries_ << text;
        line_.toWindow([tab = &tab_, text] { tab->addIdListEntry(text); });
    }
    void setDownloadEnabled(bool enabled) override
    {
        line_.toWindow([tab = &tab_, enabled] { tab->setDownloadEnabled(enabled); });
    }

private:
    LineWorker &line_;
    PalmConversionView &tab_;
    bool separate_;
    QString listText_;
    QStringList entries_;
};

} // namespace

void DownloadTab::runPalmJob(bool idList)
{
    if (downloadRunning_ || gridLock_.busy())
        return;
    beginOperation(idList ? idListButton_ : downloadButton_);
    if (!idList && !checkOutputBeforeStart(inProgramDir(outputFile_), *this)) {
        showEnd(statusLabel_->text(), false);
        return;
    }
    // The grid is one: a serial download cannot start inside this conversion.
    gridInUse_ = std::make_unique<PalmJobGuard>(gridLock_);
    const PalmSource source{inProgramDir(sources_.palmDatabasePath())};
    const QString output = inProgramDir(outputFile_);
    const GridState startState = sources_.gridState;
    const int rows = sources_.results.rows();
    const int cols = sources_.results.cols();
    LineWorker &line = sources_.line;
    // A 16 MB file takes a while: read on the line's thread, the window stays free.
    line.run([this, &line, idList, source, output, startState, rows, cols, separate = separateByModId(),
              listText = idListText(), entries = idListEntries()](MeterLink &link) {
        ResultsGrid grid(rows, cols);
        GridState state = startState;
        DownloadRelay relay(line, *this, sources_.results, grid, state);
        PalmViewRelay view(line, *this, separate, listText, entries);
        PalmImport import(grid, state, link.serial().pump(), link.serial().clock());
        import.setStopFlag(&line.stopFlag());
        relay.clearWindowGridFirst();
        const PalmOutcome outcome =
            idList ? import.getIdList(source, view, relay) : import.downloadData(source, output, view, relay);
        const bool converted = !idList && outcome.start == PalmOutcome::Start::Ran;
        if (converted)
            relay.copyAllRows();
        const bool written = converted && outcome.result == DownloadResult::Complete && !outcome.fileFailed;
        GridState ended = state;
        ended.incomplete = converted && endedPartway(outcome.result);
        line.toWindow([this, ended, idList, converted, written, output, status = outcome.status,
                       result = outcome.result] {
            if (converted)
                sources_.gridState = ended;
            if (written)
                fileWritten(output);
            // The ID list writes no file: finished, it has nothing to add to the bar.
            showEnd(status, written || (idList && result == DownloadResult::Complete));
            palmJobEnded(idList);
        });
    });
}

void DownloadTab::palmJobEnded(bool idList)
{
    gridInUse_.reset();
    // The list read, its first meter is the one "Download Data" converts unless another is picked.
    if (idList && idList_->currentText().isEmpty() && idList_->count() > 0)
        idList_->setCurrentIndex(0);
    endOperation();
    emit resultsChanged();
}

} // namespace ostrand
