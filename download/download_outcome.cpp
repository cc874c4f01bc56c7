#include "download_outcome.h"

#include "download/download_display.h"
#include "platform/save_file.h"
#include "table/output_file.h"

#include <QFileInfo>
#include <algorithm>

namespace ostrand {

namespace {
const QString kFileError = QStringLiteral("Error putting into file!!");
} // namespace

QString keptText(const QString &keptAs)
{
    return QStringLiteral("the previous file was kept as %1").arg(QFileInfo(keptAs).fileName());
}

void DownloadDisplay::fileKept(const QString &keptAs)
{
    showDetail(keptText(keptAs));
}

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
    DownloadEnd end{result, false, downloadStatusText(result), {}};
    display.setStatus(end.status);
    if (result != DownloadResult::Complete) {
        // A reader of a pipe we named learns at once that nothing comes.
        releaseOutput(outputPath);
        return end;
    }

    display.setProgress(100);
    QString error;
    // Rows added to a file keep what it held; a file replaced keeps it in a copy.
    const bool written = write == OutputWrite::Append
                             ? appendOutputFile(grid, state, outputPath, &error)
                             : replaceOutputFile(grid, state, outputPath, &end.keptAs, &error);
    if (!written) {
        end.fileFailed = true;
        end.status = kFileError;
        display.setStatus(end.status);
        display.showDetail(error);
        return end;
    }
    end.status = QStringLiteral("Finished. Data in File");
    display.setStatus(end.status);
    if (!end.keptAs.isEmpty())
        display.fileKept(end.keptAs);
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
