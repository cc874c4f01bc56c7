#pragma once

#include <QString>
#include <functional>

namespace ostrand {

class DownloadDisplay;
class ResultsGrid;
struct GridState;

// The status text that ends a download or conversion with result `result`.
QString resultStatusText(qint16 result);

// Refuses an output path that cannot take the file before any work is done:
// shows "Error putting into file!!" with the reason beside it and returns
// false, so that nobody waits through a whole download to learn the name was bad.
bool checkOutputBeforeStart(const QString &outputPath, DownloadDisplay &display);

// What follows a download or a Palm conversion: the status texts, the output
// file after a complete one and, only once that file is written, `confirm`
// (telling the meter). Returns the last status text shown.
QString finishDownload(qint16 result, const ResultsGrid &grid, const GridState &state,
                       const QString &outputPath, DownloadDisplay &display,
                       const std::function<void()> &confirm);

} // namespace ostrand
