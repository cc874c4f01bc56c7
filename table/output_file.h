#pragma once

#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QByteArray>
#include <QString>

namespace ostrand {

// The CSV text of the grid: one line per row from the heading row 1 to
// lastGridRow (no further than the grid's last row), each the stamp column
// followed by ",value" for every channel in use in ascending order, ended by
// CR LF; Latin-1, with '?' for a character outside it; nothing is quoted.
QByteArray outputFileBytes(const ResultsGrid &grid, const GridState &state);

// Replaces the file at `path` with outputFileBytes, atomically: on failure the
// previous file is untouched, false is returned and *error (if given) holds
// the system's description of what went wrong.
bool writeOutputFile(const ResultsGrid &grid, const GridState &state, const QString &path,
                     QString *error);

} // namespace ostrand
