#pragma once

#include "table/grid_state.h"
#include "table/results_grid.h"

namespace ostrand {

// Writes the fixed headings of row 1: "Record #" in column 0, "Date / Time" in column 1.
void setUpGridHeadings(ResultsGrid &grid);

// Writes each channel's label into row 1 above its column, for each channel in
// use, leaving the other channels' headings as they are, and sets the column
// widths (1000, 1800, then 2000 twips).
void setUpChannelHeadings(ResultsGrid &grid, const GridState &state);

} // namespace ostrand
