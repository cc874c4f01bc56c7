#pragma once

#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QString>
#include <array>

namespace ostrand {

// Writes the fixed headings of row 1: "Record #" in column 0, "Date / Time" in column 1.
void setUpGridHeadings(ResultsGrid &grid);

// Writes labels[k] into row 1, column k + 1, for each channel k (1 to 8) in use,
// leaving the other channels' headings as they are, and sets the column widths
// (1000, 1800, then 2000 twips).
void setUpChannelHeadings(ResultsGrid &grid, const GridState &state,
                          const std::array<QString, 9> &labels);

} // namespace ostrand
