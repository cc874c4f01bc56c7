#pragma once

#include "store/station_time.h"
#include "store/store_records.h"

#include <QByteArray>
#include <QString>
#include <QTimeZone>
#include <optional>
#include <vector>

namespace ostrand::cli {

// The readings of a station's cumulative CSV file as the window and the collector write
// it: a heading row ("Date / Time" and a label per channel in use), then a row per
// instant with the meter's stamp ("3/15/2026 2:30:00 PM", "3/16/2026" at midnight) and
// the values. The file does not say which channel a column was, so the N-th value column
// is channel N. Stamps are made UTC in `zone` as the meter's `clock` keeps it; an empty
// cell is no reading. nullopt with *problem naming the line when the file is not one.
std::optional<std::vector<collect::StoredReading>>
readingsFromCumulativeCsv(const QByteArray &text, const QString &station, const QTimeZone &zone,
                          collect::MeterClock clock, QString *problem);

} // namespace ostrand::cli
