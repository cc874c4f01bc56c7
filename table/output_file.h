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

// As writeOutputFile, but a file there that holds data is first kept as
// `path`.N (the lowest free N of 1 to 9, the oldest of nine giving way), so a
// download to the same name as the last one does not lose the last one's
// rows. *keptAs (if given) is that copy's path, empty when nothing was kept.
// A copy that cannot be made fails the write: the old data would be lost.
bool replaceOutputFile(const ResultsGrid &grid, const GridState &state, const QString &path, QString *keptAs,
                       QString *error);

// The file at `path` is a regular file with something in it: what a new
// download would either add to or replace.
bool outputHoldsData(const QString &path);

// The file at `path` begins with the heading line the grid would write, so
// the grid's rows can go under its headings.
bool outputHeadingsMatch(const QString &path, const ResultsGrid &grid, const GridState &state);

// Adds every data row of the grid to the end of the file at `path`, whose
// heading line must be the grid's; a missing or empty file is written whole.
// No row is judged by its stamp: a download from the record after the last
// stored one brings only rows the file does not hold, even when a clock hour
// repeats. Atomic as writeOutputFile (the whole file is written anew through
// a temporary one); on failure, or headings that differ, the file is left as
// it was, false returned and *error (if given) set.
bool appendOutputFile(const ResultsGrid &grid, const GridState &state, const QString &path,
                      QString *error);

// The line grid row `row` makes in the file (the heading row included), as
// outputFileBytes writes it.
QByteArray outputLine(const ResultsGrid &grid, const GridState &state, int row);

// Brings the file at `path` up to the grid once rows came after it was
// written: `lastRowWritten` was the grid's last row then, and
// `lastLineWritten` its line, which the file must still end with (it may
// have grown since, a record of its instant arriving late). That line and
// every row after it take its place; a file written with the heading row
// last gets the rows after it. Atomic as writeOutputFile; a pipe or device,
// which cannot be read back, gets the rows after lastRowWritten. On failure,
// or a file that no longer ends as written, the file is left as it was, false
// returned and *error (if given) set.
bool extendOutputFile(const ResultsGrid &grid, const GridState &state, const QString &path, int lastRowWritten,
                      const QByteArray &lastLineWritten, QString *error);

} // namespace ostrand
