#pragma once

#include "download/download_result.h"

namespace ostrand {

struct PalmContext;
struct PalmSource;

// "Get ID List...": appends to the window's ID list every meter ID of the
// file's log records that it lacks, in the order first met, leaving out the
// ID that the list's text selects. Sets lastGridRow to 1. Returns Complete,
// NoRecords (no sync pair), PalmFileMissing or PalmFileUnreadable.
DownloadResult listPalmMeterIds(const PalmSource &source, const PalmContext &context);

} // namespace ostrand
