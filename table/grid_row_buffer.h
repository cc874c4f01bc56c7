#pragma once

#include "table/grid_layout.h"

#include <QString>
#include <array>
#include <bitset>

namespace ostrand {

class ResultsGrid;

// The texts of the grid row being filled, written in one go: writing a cell
// at a time would repack the grid's row for every record. Cells not set keep
// their texts, as the row may have been begun by an earlier block or before a
// flush; rows past the grid's last row are dropped.
class GridRowBuffer {
public:
    static constexpr int kCols = kGridCols;

    explicit GridRowBuffer(ResultsGrid &grid) : grid_(grid) {}
    ~GridRowBuffer() { flush(); }
    GridRowBuffer(const GridRowBuffer &) = delete;
    GridRowBuffer &operator=(const GridRowBuffer &) = delete;

    // The row being filled; -1 before the first start().
    int row() const { return row_; }
    // Whether that row exists in the grid.
    bool inGrid() const;
    // Writes the row so far and goes on with `row`.
    void start(int row);
    // Sets a cell of the current row.
    void set(int col, QString text);
    // Writes what was set into the grid.
    void flush();

private:
    ResultsGrid &grid_;
    int row_ = -1;
    std::array<QString, kCols> texts_;
    std::bitset<kCols> written_;
};

} // namespace ostrand
