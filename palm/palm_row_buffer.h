#pragma once

#include <QString>
#include <array>
#include <bitset>

namespace ostrand {

class ResultsGrid;

// The texts of the grid row being filled, written in one go: writing a cell
// at a time would repack the grid's row for every record. Rows past the
// grid's last row are dropped.
class PalmRowBuffer {
public:
    static constexpr int kCols = 10;

    explicit PalmRowBuffer(ResultsGrid &grid) : grid_(grid) {}
    ~PalmRowBuffer() { flush(); }
    PalmRowBuffer(const PalmRowBuffer &) = delete;
    PalmRowBuffer &operator=(const PalmRowBuffer &) = delete;

    // Writes the row so far and goes on with `row`.
    void start(int row);
    // Sets a cell of the current row.
    void set(int col, QString text);
    // Writes what was set into the grid, keeping the row's other cells.
    void flush();

private:
    ResultsGrid &grid_;
    int row_ = -1;
    std::array<QString, kCols> texts_;
    std::bitset<kCols> written_;
};

} // namespace ostrand
