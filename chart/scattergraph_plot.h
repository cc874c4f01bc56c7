#pragma once

#include "survey/pipe_curves.h"
#include "survey/survey_series.h"

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QFont;
class QPainter;

namespace ostrand {

// The depth and velocity window a scattergraph shows, in the user's units.
struct ScatterRange {
    double depthMin = 0;
    double depthMax = 1;
    double velocityMin = 0;
    double velocityMax = 1;
    bool operator==(const ScatterRange &o) const
    {
        return depthMin == o.depthMin && depthMax == o.depthMax && velocityMin == o.velocityMin &&
               velocityMax == o.velocityMax;
    }
};

// A line over the points, in the user's units (x depth, y velocity), in order of depth.
struct ScatterCurve {
    QString name;
    QColor color;
    std::vector<QPointF> points;
};

// What a scattergraph of a series over [fromUtcMs, toUtcMs) shows, worked out
// once (fits included) so that zooming and repainting cost only the drawing.
// Values are in the series' setup units (depth, velocity and flow units).
struct ScattergraphModel {
    qint64 fromUtcMs = 0;
    qint64 toUtcMs = 0;
    QString title; // drawn above the plot when set (the station and period, say)
    // The instants with both a depth and a velocity: x depth, y velocity, oldest first.
    std::vector<QPointF> points;
    std::vector<qint64> pointUtcMs;
    QString depthUnit;           // "mm"
    QString velocityUnit;        // "m/s"
    QString flowUnit;            // "l/s"
    double depthFactor = 1;      // a depth in the unit times this is metres
    double velocityFactor = 1;   // m/s
    double flowFactor = 1;       // m3/s
    std::optional<double> crown; // the pipe's diameter, in the depth unit, when known
    std::optional<double> diameterM;
    // The Manning design curve: empty unless diameter, slope and n are all known.
    ScatterCurve manning;
    // Fitted to the points shown; invalid (and no curve) without a diameter or enough points.
    survey::CurveFit lanfearColl;
    survey::CurveFit stevensSchutzbach;
    ScatterCurve lanfearCollCurve;
    ScatterCurve stevensSchutzbachCurve;

    bool empty() const { return points.empty(); }
};

// The model of `series` over [fromUtcMs, toUtcMs).
ScattergraphModel scattergraphModel(const survey::SurveySeries &series, qint64 fromUtcMs,
                                    qint64 toUtcMs);

// The axes that fit every point and the crown, rounded outward, from depth 0 and velocity 0 where
// the data allow.
ScatterRange defaultScatterRange(const ScattergraphModel &model);

// One text line per curve with its fitted values, for the legend and for a
// report page: "Lanfear-Coll: C = 61.2 m^(1/3)/s, R² = 0.981, 672 points".
QStringList scattergraphCurveTexts(const ScattergraphModel &model);

// Round flows (4 to 6, in the flow unit) whose lines of equal flow cross `range`; none without a
// diameter.
std::vector<double> isoFlowValues(const ScattergraphModel &model, const ScatterRange &range);

// Where a scattergraph painted into `area` with `font` puts its plot, and the
// mapping between values and pixels there (the widget zooms through it).
struct ScatterFrame {
    QRectF plot;
    ScatterRange range;
    QPointF toPixel(double depth, double velocity) const;
    QPointF toValue(const QPointF &pixel) const; // x depth, y velocity
};
ScatterFrame scatterFrame(const QRectF &area, const QFont &font, const ScatterRange &range);

// The shade of a point at `age` (0 the oldest shown, 1 the newest): light to dark.
QColor scatterPointColor(double age);

// Paints the scattergraph into `area` showing `range`: the axes, the points
// shaded by time, the crown, the Manning and fitted curves, lines of equal
// flow and a legend. Qt Gui only, so it draws onto an image, a PDF or a widget alike.
void paintScattergraph(QPainter &painter, const QRectF &area, const ScattergraphModel &model,
                       const ScatterRange &range);

} // namespace ostrand
