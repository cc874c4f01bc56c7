#pragma once

#include "store/store_records.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace ostrand::collect {

// Where collect keeps a station's runs beside its output, for the health
// report of a fleet without a store: one JSON object a line, oldest first.
QString historyFilePath(const QString &output);

// The most of a history that is read: its last 4 MiB. A month of runs every
// two minutes fits; anything larger was not written by collect.
constexpr qint64 kHistoryReadBytes = 4 * 1024 * 1024;

// `existing` with `run` added at the end, keeping only the runs of the 31 days
// before it and the newest success before those, so a station that has failed
// for months still shows when it last worked, and the file stays a few kB; the
// oldest of the kept runs go first when they would not fit in kHistoryReadBytes.
QByteArray historyWithRun(const QByteArray &existing, const CollectionRow &run);

struct HistoryText {
    bool ok = true;
    QByteArray bytes; // whole lines only
    QString note;     // why only the file's tail was read; empty when all of it was
    QString error;    // why it could not be read, when !ok (a missing file is read as empty)
};

// The history at `path`, its last kHistoryReadBytes when it is larger, the
// line cut by that start left out.
HistoryText readHistoryFile(const QString &path);

// The runs a history holds, each named `station`; a line that cannot be read
// (a file edited by hand) is passed over.
std::vector<CollectionRow> historyRuns(const QByteArray &bytes, const QString &station);

// What the runs tell of the station: its last attempt, last success and the
// error of its last failed run.
StationRow stationRowFromRuns(const QString &name, const std::vector<CollectionRow> &runs);

// Adds `run` to the history beside `output`, the file replaced whole; false
// with *error set when it could not be read or written. *note says when only
// the tail of an over-large history was read (and so kept).
bool recordRun(const QString &output, const CollectionRow &run, QString *error, QString *note = nullptr);

} // namespace ostrand::collect
