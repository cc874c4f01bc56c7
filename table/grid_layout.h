#pragma once

#include "table/channel.h"

namespace ostrand {

// Where things stand in the results grid: row 1 holds the file's headings and
// the data rows follow from row 2 (row 0 stays empty). Column 0 numbers the
// records, column 1 holds the stamps and channel k's values stand in column k + 1.
constexpr int kHeadingRow = 1;
constexpr int kFirstDataRow = 2;
constexpr int kRecordCol = 0;
constexpr int kStampCol = 1;
constexpr int kGridCols = kStampCol + 1 + kChannelCount;

constexpr int channelCol(int k)
{
    return kStampCol + k;
}

} // namespace ostrand
