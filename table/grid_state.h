#pragma once

#include <QDate>
#include <QTime>
#include <array>

namespace ostrand {

// The date and time of the record that last began or continued a grid row.
struct RowStamp {
    bool empty = true;
    QDate date;
    QTime time;
};

// What a download or a Palm conversion leaves about the results grid, read
// afterwards by the output file writer.
struct GridState {
    int lastGridRow = 1;                    // last grid row begun; 1 when there are no data rows
    std::array<bool, 9> channelInUse{};     // channels 1 to 8 (element 0 unused)
    std::array<bool, 11> channelIsTotal{};  // element k - 1 for channel k
    RowStamp lastRowStamp;
};

} // namespace ostrand
