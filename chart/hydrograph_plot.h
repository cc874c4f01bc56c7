#pragma once

#include <QColor>
#include <QRectF>
#include <QString>
#include <QTimeZone>

#include <vector>

class QFont;
class QPainter;

namespace ostrand {

// One channel against time, as a survey report's page shows it.
struct HydrographSpec {
    QString title; // "Depth (mm)"
    QColor color = QColor(20, 70, 160);
    qint64 fromUtcMs = 0; // the time axis, [from, to)
    qint64 toUtcMs = 0;
    QTimeZone zone; // the time axis reads in local time
    // Readings further apart than this are not joined: a gap is drawn as a
    // break, never bridged. 0 (interval unknown): every missing value (NaN) breaks the line.
    qint64 maxStepMs = 0;
};

// Paints `values` (at `utcMs`, same length, NaN where there is no reading)
// into `area`: axes with round marks, the line, the title. Qt Gui only.
void paintHydrograph(QPainter &painter, const QRectF &area, const HydrographSpec &spec,
                     const std::vector<qint64> &utcMs, const std::vector<double> &values);

// The x (pixels) where `utcMs` falls when `spec` is painted into `plot`, the
// plot rectangle within the area (see hydrographPlotRect).
double hydrographX(const QRectF &plot, const HydrographSpec &spec, qint64 utcMs);
QRectF hydrographPlotRect(const QRectF &area, const QFont &font);

} // namespace ostrand
