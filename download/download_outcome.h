#pragma once

#include "download/confirmed_tail.h"
#include "download/download_result.h"

#include <QString>
#include <functional>

namespace ostrand {

class DownloadDisplay;
class ResultsGrid;
struct GridState;

// Refuses an output path that cannot take the file before any work is done:
// shows "Error putting into file!!" with the reason beside it and returns
// false, so that nobody waits through a whole download to learn the name was bad.
bool checkOutputBeforeStart(const QString &outputPath, DownloadDisplay &display);

// How a download or conversion ended once its file was dealt with.
struct DownloadEnd {
    DownloadResult result = DownloadResult::Complete;
    bool fileFailed = false; // complete, but the output file could not be written
    QString status;          // the last status text shown
    QString keptAs;          // where the file's previous data was kept; empty when nowhere
};

// How a complete download's rows go into the output file.
enum class OutputWrite {
    Replace, // the file becomes this download's, its previous data kept as FILE.N
    Append,  // the rows go under the file's own, whose headings must be the same
};

// The words beside "Finished. Data in File" once the previous file was kept as `keptAs`.
QString keptText(const QString &keptAs);

// What follows a download or a Palm conversion: the status texts, the output
// file after a complete one and, only once that file is written, `confirm`
// (telling the meter). The records `confirm` brings into the grid beyond
// those written are added to the file (replaced as a whole, as it was
// written); records the meter counts as downloaded that the file could not
// take end the run in "Error in Downloading!!" or "Error putting into file!!",
// with the records named beside it.
DownloadEnd finishDownload(DownloadResult result, const ResultsGrid &grid, const GridState &state,
                           const QString &outputPath, DownloadDisplay &display,
                           const std::function<ConfirmedTail()> &confirm,
                           OutputWrite write = OutputWrite::Replace);

} // namespace ostrand
