#include "download_outcome.h"

#include "download/download_display.h"
#include "download/download_engine.h"
#include "download/output_file.h"
#include "platform/save_file.h"

namespace ostrand {

QString resultStatusText(qint16 result)
{
    switch (result) {
    case download_result::kComplete: return QStringLiteral("Completed Download.");
    case download_result::kNoRecords: return QStringLiteral("0 Records Available");
    case download_result::kPalmFileMissing: return QStringLiteral("Could not find Palm DataFile!!");
    default: return QStringLiteral("Error in Downloading!!");
    }
}

namespace {
const QString kFileError = QStringLiteral("Error putting into file!!");
} // namespace

bool checkOutputBeforeStart(const QString &outputPath, DownloadDisplay &display)
{
    const QString problem = outputPathProblem(outputPath);
    if (problem.isEmpty())
        return true;
    display.setStatus(kFileError);
    display.showDetail(problem);
    return false;
}

QString finishDownload(qint16 result, const ResultsGrid &grid, const GridState &state,
                       const QString &outputPath, DownloadDisplay &display,
                       const std::function<void()> &confirm)
{
    QString status = resultStatusText(result);
    display.setStatus(status);
    if (result != download_result::kComplete)
        return status;

    display.setProgress(100);
    QString error;
    if (!WriteOutputFile(grid, state, outputPath, &error)) {
        status = kFileError;
        display.setStatus(status);
        display.showDetail(error);
        return status;
    }
    status = QStringLiteral("Finished. Data in File");
    display.setStatus(status);
    if (confirm)
        confirm();
    return status;
}

} // namespace ostrand
