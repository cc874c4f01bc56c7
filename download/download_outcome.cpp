#include "download_outcome.h"

#include "download/download_display.h"
#include "platform/save_file.h"
#include "table/output_file.h"

namespace ostrand {

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

DownloadEnd finishDownload(DownloadResult result, const ResultsGrid &grid, const GridState &state,
                       const QString &outputPath, DownloadDisplay &display,
                       const std::function<void()> &confirm, OutputWrite write)
{
    DownloadEnd end{result, false, downloadStatusText(result)};
    display.setStatus(end.status);
    if (result != DownloadResult::Complete) {
        // A reader of a pipe we named learns at once that nothing comes.
        releaseOutput(outputPath);
        return end;
    }

    display.setProgress(100);
    QString error;
    const bool written = write == OutputWrite::Append ? appendOutputFile(grid, state, outputPath, &error)
                                                      : writeOutputFile(grid, state, outputPath, &error);
    if (!written) {
        end.fileFailed = true;
        end.status = kFileError;
        display.setStatus(end.status);
        display.showDetail(error);
        return end;
    }
    end.status = QStringLiteral("Finished. Data in File");
    display.setStatus(end.status);
    if (confirm)
        confirm();
    return end;
}

} // namespace ostrand
