#pragma once

#include <QString>
#include <QTimeZone>
#include <vector>

namespace ostrand::web {

// One line of the hydrograph: a quantity's values at its instants.
struct HydrographLine {
    QString title;              // "Depth", or a channel's label: escaped where drawn
    QString unit;               // "mm", "l/s", or the store's unit: escaped where drawn
    std::vector<qint64> utcMs;  // ascending
    std::vector<double> values; // NaN: no reading then
};

// A panel of the hydrograph from `fromUtcMs` to `toUtcMs`, days marked at
// the station's midnights, as inline SVG. The line breaks where a value is
// missing and where the instants are further apart than `breakAfterMs`, so a
// gap is never drawn as a straight line across it.
QString hydrographSvg(const HydrographLine &line, qint64 fromUtcMs, qint64 toUtcMs,
                      const QTimeZone &zone, qint64 breakAfterMs);

} // namespace ostrand::web
