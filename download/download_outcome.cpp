#include "download_outcome.h"

#include "download/download_display.h"
#include "platform/save_file.h"
#include "table/output_file.h"

#include <algorithm>

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
                           const std::function<ConfirmedTail()> &confirm, OutputWrite write)
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
    if (!confirm)
        return end;
    const int lastRowWritten = std::min(state.lastGridRow, grid.rows() - 1);
    const QByteArray lastLineWritten = outputLine(grid, state, lastRowWritten);
    const ConfirmedTail tail = confirm();
    const auto notInFile = [&] {
        display.showDetail(QStringLiteral("the meter now counts %1 as downloaded, and %2 does not hold them: "
                                          "\"Download Data\" reads them again")
                               .arg(tail.records, outputPath));
    };
    if (tail.outcome == ConfirmedTail::Outcome::Unread) {
        end.result = DownloadResult::BlockFailed;
        end.status = downloadStatusText(end.result);
        display.setStatus(end.status);
        notInFile();
        return end;
    }
    if (tail.outcome == ConfirmedTail::Outcome::Nothing)
        return end;
    if (!extendOutputFile(grid, state, outputPath, lastRowWritten, lastLineWritten, &error)) {
        end.fileFailed = true;
        end.status = kFileError;
        display.setStatus(end.status);
        display.showDetail(error);
        notInFile();
    }
    return end;
}

} // namespace ostrand
