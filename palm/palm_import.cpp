#include "palm_import.h"

#include "download/download_display.h"
#include "download/download_outcome.h"
#include "palm/palm_conversion_view.h"
#include "palm/palm_meter_ids.h"
#include "table/results_grid.h"

namespace ostrand {
namespace {

const QString kReading = QStringLiteral("Reading Palm DataBase");

} // namespace

PalmImport::PalmImport(ResultsGrid &grid, GridState &state, EventPump &pump, const Clock &clock)
    : grid_(grid), state_(state), pump_(pump), clock_(clock)
{
}

PalmContext PalmImport::context(PalmConversionView &view, DownloadDisplay &display)
{
    return PalmContext{grid_, state_, view, display, pump_, clock_, stopRequested_};
}

PalmOutcome PalmImport::downloadData(const PalmSource &source, const QString &outputPath,
                                     PalmConversionView &view, DownloadDisplay &display)
{
    PalmJobGuard guard(lock_);
    if (!guard.acquired())
        return {};
    if (view.separateByModId() && view.idListText().isEmpty()) {
        const QString status = QStringLiteral("Enter ModID");
        display.setStatus(status);
        return {PalmOutcome::Start::NeedsModId, DownloadResult::Complete, false, status};
    }
    display.setStatus(kReading);
    view.setDownloadEnabled(false);
    grid_.clear();
    const DownloadResult result = convertPalmDatabase(source, context(view, display));
    const DownloadEnd end = finishDownload(result, grid_, state_, outputPath, display, {});
    view.setDownloadEnabled(true);
    return {PalmOutcome::Start::Ran, result, end.fileFailed, end.status};
}

PalmOutcome PalmImport::getIdList(const PalmSource &source, PalmConversionView &view,
                                  DownloadDisplay &display)
{
    PalmJobGuard guard(lock_);
    if (!guard.acquired())
        return {};
    display.setStatus(kReading);
    view.setDownloadEnabled(false);
    const DownloadResult result = listPalmMeterIds(source, context(view, display));
    const QString status = idListStatusText(result);
    display.setStatus(status);
    if (result == DownloadResult::Complete)
        display.setProgress(100);
    view.setDownloadEnabled(true);
    return {PalmOutcome::Start::Ran, result, false, status};
}

} // namespace ostrand
