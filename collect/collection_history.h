#pragma once

#include "collect/store_records.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace ostrand::collect {

// Where collect keeps a station's runs beside its output, for the health
// report of a fleet without a store: one JSON object a line, oldest first.
QString historyFilePath(const QString &output);

// `existing` with `run` added at the end, keeping only the runs of the 31 days
// before it and the newest success before those, so a station that has failed
// for months still shows when it last worked, and the file stays a few kB.
QByteArray historyWithRun(const QByteArray &existing, const CollectionRow &run);

// The runs a history holds, each named `station`; a line that cannot be read
// (a file edited by hand) is passed over.
std::vector<CollectionRow> historyRuns(const QByteArray &bytes, const QString &station);

// What the runs tell of the station: its last attempt, last success and the
// error of its last failed run.
StationRow stationRowFromRuns(const QString &name, const std::vector<CollectionRow> &runs);

// Adds `run` to the history beside `output`, the file replaced whole; false
// with *error set when it could not be read or written.
bool recordRun(const QString &output, const CollectionRow &run, QString *error);

} // namespace ostrand::collect
