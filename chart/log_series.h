#pragma once

#include <QDateTime>
#include <QPointF>
#include <QString>

#include <optional>
#include <vector>

namespace ostrand {

class ResultsGrid;
struct GridState;

// One channel of the results grid as (time, value) points.
struct ChannelSeries {
    int channel = 0; // 1 to 8
    QString label;   // the channel's label, or "Channel k" when it has none
    QString unit;    // the unit its label names, if any
    bool total = false;
    // x = milliseconds since the epoch of the stamp read as UTC (a naive wall-clock
    // reading, so daylight-saving changes neither skip nor repeat an hour);
    // y = the value. Sorted by x; rows with equal stamps keep their grid order.
    std::vector<QPointF> points;
};

// The channels in use, in channel order, with every data row that has both a
// readable stamp and a number in that channel's column.
std::vector<ChannelSeries> seriesFromGrid(const ResultsGrid &grid, const GridState &state);

// A stamp of the grid ("3/15/2004 2:30:00 PM", "3/16/2004", "12/05/2007 09:30")
// as a UTC date-time holding the wall-clock reading; nothing for any other text.
std::optional<QDateTime> parseStampText(const QString &text);

// A value cell's number ("1.5", "1E+37", "-2.5E-05"); nothing when empty or not a number.
std::optional<double> parseValueText(const QString &text);

// The point of `points` (sorted by x, not empty) nearest to `x`; the earlier of two as near.
std::vector<QPointF>::const_iterator nearestByTime(const std::vector<QPointF> &points, double x);

// At most four points per bucket of [fromX, toX] split into `buckets` equal
// widths: each bucket's first, last, lowest and highest point, in x order. The
// nearest point on each side outside the range comes along so that lines reach
// the edges. `points` must be sorted by x; a range holding no more than four
// points per bucket is returned whole.
std::vector<QPointF> downsampleMinMax(const std::vector<QPointF> &points, double fromX, double toX,
                                      int buckets);

} // namespace ostrand
