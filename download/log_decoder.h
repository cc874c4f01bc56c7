#pragma once

#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QTime>

namespace ostrand {

// Turns a block of the meter's 8-byte log records into results grid rows: one
// row per logging instant (a new one whenever a record's date or time differs
// from the previous record's), record number in column 0, stamp in column 1,
// channel k's value in column k + 1. Erased, impossible and channel-less
// records are skipped, a trailing part shorter than a record is ignored, and
// cells past the grid's last row are left out (counted in *recordsLeftOut
// when given, so the loss can be reported). Always returns true.
bool decodeLogBlock(const QByteArray &data, ResultsGrid &grid, GridState &state,
                    int *recordsLeftOut = nullptr);

// Whether the 8 bytes at `record` were written by the meter: an erased slot
// has 0xFF in its stamp bytes.
bool isWrittenRecord(const char *record);

// A record's stamp as "3/15/2004 2:30:00 PM", or the date alone at exactly
// midnight ("3/16/2004"), in that form whatever the machine's locale; empty
// for an invalid date.
QString stampText(const QDate &date, const QTime &time);

} // namespace ostrand
