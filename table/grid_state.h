#pragma once

#include "table/channel.h"

#include <QDate>
#include <QTime>

namespace ostrand {

// The date and time of the record that last began or continued a grid row.
struct RowStamp {
    bool empty = true;
    QDate date;
    QTime time;
};

// What a download or a Palm conversion leaves about the results grid, read
// afterwards by the output file writer and the chart.
struct GridState {
    int lastGridRow = 1; // last grid row begun; 1 when there are no data rows
    Channels channels;
    RowStamp lastRowStamp;

    // Channel k, 1 to kChannelCount as the meter numbers them.
    Channel &channel(int k) { return channels[k - 1]; }
    const Channel &channel(int k) const { return channels[k - 1]; }
};

} // namespace ostrand
