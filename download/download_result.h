#pragma once

#include <QString>

namespace ostrand {

// How a download from the meter or a conversion of the handheld's file ended.
// The numbers are the codes the meter software has always used.
enum class DownloadResult {
    Complete = 0,
    NoRecords = 1,
    PalmFileMissing = 2,
    // An existing file that cannot be opened or read to its end: unlike a
    // missing one or one without records, its contents are unknown.
    PalmFileUnreadable = 3,
    BlockFailed = 4,
    ChannelLabelsUnreadable = 5,
    DifferentMeter = 6, // another meter answered after the line was reopened
    Stopped = 7,        // the operator stopped it: nothing written, nothing confirmed
    PointersUnreadable = 80,
};

// The status text that ends a download or a conversion with `result`.
QString downloadStatusText(DownloadResult result);
// The status text that ends "Get ID List..." with `result`.
QString idListStatusText(DownloadResult result);

} // namespace ostrand
