#pragma once

#include "download/download_outcome.h"

#include <QString>
#include <optional>

namespace ostrand {

class FileDialogs;
class LineWorker;

// What a "Since Last Time" download found at its output path once its rows were read.
struct ExistingOutput {
    QString path;
    int newRows = 0;
    bool headingsMatch = false; // the rows can go under the file's headings
};

// Asks, on the window's thread, whether the new rows go under the file's own
// ("Append the 6 new rows to <file>", offered only when the headings match),
// replace it, or go nowhere; the running job on the line's thread waits for
// the answer, so the meter is told only of rows a file took. Nothing on
// Cancel, and when the job was stopped before the question could be shown.
std::optional<OutputWrite> askHowToWrite(LineWorker &line, FileDialogs &dialogs,
                                         const ExistingOutput &output);

} // namespace ostrand
