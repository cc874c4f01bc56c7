#pragma once

#include "table/channel.h"

#include <QDate>
#include <QHash>
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
    // The rows are what a download or conversion read before it failed or was
    // stopped: part of the log, and in no file.
    bool incomplete = false;
    // The grid shows a total rounded down; a reader that keeps the meter's own
    // value (the readings store) asks for it here, by row and channel.
    bool keepExactTotals = false;
    QHash<qint64, double> exactTotals;

    static qint64 cellKey(int row, int channel) { return qint64(row) * 16 + channel; }

    // Channel k, 1 to kChannelCount as the meter numbers them.
    Channel &channel(int k) { return channels[k - 1]; }
    const Channel &channel(int k) const { return channels[k - 1]; }
};

} // namespace ostrand
