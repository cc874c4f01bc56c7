#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace ostrand::collect {

// A station's cumulative CSV file once a download's rows are added to it.
struct CsvAppend {
    QByteArray bytes;             // the whole new file
    int newRows = 0;              // rows it gained
    bool headingsChanged = false; // the old file must be kept aside; `bytes` begins afresh
};

// Which of a download's rows an existing file may already hold.
enum class Overlap {
    // The download began past the last record stored: every row is new,
    // whatever its stamp (a clock hour that repeats, a meter set back).
    None,
    // A whole log onto a file written before collections kept a cursor: a row
    // equal in stamp and values to one the file holds is that row again. Each
    // held row stands for one such row at most, so readings that repeat keep
    // their count.
    RowsEqualToHeldOnes,
};

// Adds the rows of `download` (a heading line and rows, as the output file
// writer makes them) to `existing` (empty when there is no file yet). When the
// heading lines differ the meter was set up anew and the result is the
// download alone.
CsvAppend appendRows(const QByteArray &existing, const QByteArray &download, Overlap overlap);

// Where a file whose headings no longer match is kept: its name with the
// time stamp before the suffix (data/north-pump-20260314-031500.csv); from
// `counter` 2 on, the counter after the stamp (...-031500-2.csv) for a second
// that already has an archive.
QString archivedName(const QString &path, const QDateTime &when, int counter = 1);

} // namespace ostrand::collect
