#pragma once

#include "download/download_result.h"

#include <QString>
#include <atomic>
#include <QtGlobal>

class QIODevice;

namespace ostrand {

class Clock;
class DownloadDisplay;
class EventPump;
class PalmConversionView;
class PalmLogReader;
class ResultsGrid;
struct GridState;

// The handheld's file: a path, or for tests a device used in its place.
struct PalmSource {
    QString path;                // the handheld file the operator chose
    QIODevice *device = nullptr; // read instead of `path` when set; not owned

    // Opens `reader` on the source: Complete, PalmFileMissing (no readable
    // regular file) or PalmFileUnreadable. Tells `display` why it failed, or that what opened
    // does not look like a handheld database.
    DownloadResult open(PalmLogReader &reader, DownloadDisplay &display) const;
};

// What a Palm operation reads and writes besides the file.
struct PalmContext {
    ResultsGrid &grid;
    GridState &state;
    PalmConversionView &view;
    DownloadDisplay &display; // progress bar and channel boxes
    EventPump &pump;
    const Clock &clock;
    // Set by the caller while the conversion yields; it then ends with Stopped.
    const std::atomic<bool> *stopRequested = nullptr;
};

// How long the conversion may keep the window waiting between two yields.
constexpr int kPalmYieldIntervalMs = 50;

// Fills the results grid from the handheld's log records: the heading row from
// the records' channel names, one data row per time stamp from row 2 on, only
// the records of the meter whose ID the list's text holds unless "Dont
// Separate" is chosen (adding the other meters' IDs to the list). The grid is
// expected cleared. Returns Complete, NoRecords (no record converted),
// PalmFileMissing or PalmFileUnreadable (the file could not be read to its end). Records left
// out of a complete conversion (past the grid's last row, or cut off at the
// file's end) are counted on the display's detail line.
DownloadResult convertPalmDatabase(const PalmSource &source, const PalmContext &context);

} // namespace ostrand
