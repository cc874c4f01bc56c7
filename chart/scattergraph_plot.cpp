#include "scattergraph_plot.h"

#include "chart/plot_axes.h"
#include "chart/value_scale.h"
#include "survey/survey_tables.h"
#include "survey/survey_units.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>

namespace ostrand {
namespace {

// Enough shades to read the drift of a sensor, few enough that each is one drawPoints call.
constexpr int kShades = 16;
constexpr int kCurveSamples = 160;
const QColor kManningColor(0, 128, 64);
const QColor kLanfearCollColor(230, 120, 0);
const QColor kStevensSchutzbachColor(200, 0, 90);
const QColor kCrownColor(90, 90, 90);
const QColor kIsoFlowColor(150, 150, 150);

// A round dot `size` pixels across, antialiased, for copying onto raster devices.
QImage dotSprite(const QColor &color, double size, qreal devicePixelRatio)
{
    const int pixels = int(std::ceil(size * devicePixelRatio));
    QImage sprite(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    sprite.fill(Qt::transparent);
    {
        QPainter painter(&sprite);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(0, 0, pixels, pixels));
    }
    sprite.setDevicePixelRatio(devicePixelRatio);
    return sprite;
}

template <typename Velocity>
ScatterCurve sampledCurve(const QString &name, const QColor &color, double diameterM, double fromM,
                          double depthFactor, double velocityFactor, Velocity velocity)
{
    ScatterCurve curve{name, color, {}};
    curve.points.reserve(kCurveSamples + 1);
    for (int i = 0; i <= kCurveSamples; ++i) {
        const double depth = fromM + (diameterM - fromM) * i / kCurveSamples;
        const double v = velocity(depth);
        if (std::isfinite(v))
            curve.points.emplace_back(depth / depthFactor, v / velocityFactor);
    }
    return curve;
}

double areaAt(double diameterM, double depthM)
{
    return survey::circularSection(diameterM, depthM).area;
}

// The depth (m) below which a flow `flowM3s` would need more than `velocity` m/s: where its line
// enters from the top.
double entryDepth(double diameterM, double flowM3s, double velocity)
{
    const double neededArea = flowM3s / velocity;
    if (areaAt(diameterM, diameterM) <= neededArea)
        return diameterM;
    double low = 0, high = diameterM;
    for (int i = 0; i < 50; ++i) {
        const double mid = (low + high) / 2;
        (areaAt(diameterM, mid) < neededArea ? low : high) = mid;
    }
    return high;
}

QString fitText(const QString &name, const survey::CurveFit &fit, const ScattergraphModel &model,
                bool withOffset)
{
    if (!model.diameterM)
        return QObject::tr("%1: not fitted (the pipe's diameter is not known)").arg(name);
    if (!fit.valid)
        return QObject::tr("%1: not fitted (too few points with depth above zero)").arg(name);
    QString text =
        QObject::tr("%1: C = %2 m^(1/3)/s").arg(name, survey::surveyNumber(fit.coefficient));
    if (withOffset)
        text += QObject::tr(", silt %1 %2")
                    .arg(survey::surveyNumber(fit.offsetM / model.depthFactor), model.depthUnit);
    return text + QObject::tr(", R² = %1, %2 points")
                      .arg(survey::surveyNumber(fit.rSquared))
                      .arg(fit.points);
}

QString manningText(const ScattergraphModel &model)
{
    if (!model.manning.points.empty())
        return QObject::tr("Manning design: full-pipe velocity %1 %2")
            .arg(survey::surveyNumber(model.manning.points.back().y()), model.velocityUnit);
    return QObject::tr(
        "Manning design: not drawn (needs the pipe's diameter, slope and Manning's n)");
}

QString numberText(double value, double step)
{
    const int decimals = std::clamp(int(-std::floor(std::log10(step) + 1e-9)), 0, 6);
    return QString::number(value, 'f', decimals);
}

void drawPolyline(QPainter &painter, const ScatterFrame &frame, const std::vector<QPointF> &points)
{
    QPolygonF line;
    line.reserve(int(points.size()));
    for (const QPointF &p : points)
        line << frame.toPixel(p.x(), p.y());
    painter.drawPolyline(line);
}

void drawIsoFlows(QPainter &painter, const ScatterFrame &frame, const ScattergraphModel &model)
{
    const std::vector<double> flows = isoFlowValues(model, frame.range);
    if (flows.empty())
        return;
    const double diameter = *model.diameterM;
    const ScatterRange &r = frame.range;
    const double topVelocity =
        (r.velocityMax + (r.velocityMax - r.velocityMin) * 0.05) * model.velocityFactor;
    const double lastDepth = r.depthMax * model.depthFactor;
    QPen pen(kIsoFlowColor, 1, Qt::DotLine);
    painter.setPen(pen);
    const QFontMetricsF metrics(painter.font());
    for (double flow : flows) {
        const double flowM3s = flow * model.flowFactor;
        const double first =
            std::max(entryDepth(diameter, flowM3s, topVelocity), r.depthMin * model.depthFactor);
        if (first >= lastDepth)
            continue;
        QPolygonF line;
        for (int i = 0; i <= kCurveSamples; ++i) {
            // Denser where the line is steep, near where it enters.
            const double t = double(i) / kCurveSamples;
            const double depth = first + (lastDepth - first) * t * t;
            const double area = areaAt(diameter, std::min(depth, diameter));
            if (area <= 0)
                continue;
            line << frame.toPixel(depth / model.depthFactor, flowM3s / area / model.velocityFactor);
        }
        painter.drawPolyline(line);
        if (line.isEmpty())
            continue;
        // Labelled where it leaves the plot on the right, or else where it comes in at the top.
        QPointF at = line.last();
        if (at.y() < frame.plot.top() + metrics.height())
            at = line.first();
        const QString label = survey::surveyNumber(flow) + ' ' + model.flowUnit;
        const QRectF box(at.x() - metrics.horizontalAdvance(label) - 4,
                         at.y() - metrics.height() - 1, metrics.horizontalAdvance(label) + 2,
                         metrics.height());
        painter.save();
        painter.setPen(kIsoFlowColor.darker(140));
        painter.drawText(box, Qt::AlignRight | Qt::AlignBottom, label);
        painter.restore();
        painter.setPen(pen);
    }
}

struct LegendEntry {
    QColor color;
    Qt::PenStyle style;
    QString text;
    bool dot = false;
};

void drawLegend(QPainter &painter, const ScatterFrame &frame, const ScattergraphModel &model)
{
    std::vector<LegendEntry> entries;
    entries.push_back({scatterPointColor(0.8), Qt::SolidLine,
                       QObject::tr("%1 points, oldest light, newest dark").arg(model.points.size()),
                       true});
    if (model.crown)
        entries.push_back(
            {kCrownColor, Qt::DashLine,
             QObject::tr("Crown: %1 %2").arg(survey::surveyNumber(*model.crown), model.depthUnit)});
    if (!model.manning.points.empty())
        entries.push_back({kManningColor, Qt::SolidLine, manningText(model)});
    entries.push_back({model.lanfearCollCurve.points.empty() ? Qt::transparent : kLanfearCollColor,
                       Qt::SolidLine,
                       fitText(QObject::tr("Lanfear-Coll"), model.lanfearColl, model, false)});
    entries.push_back(
        {model.stevensSchutzbachCurve.points.empty() ? Qt::transparent : kStevensSchutzbachColor,
         Qt::SolidLine,
         fitText(QObject::tr("Stevens-Schutzbach"), model.stevensSchutzbach, model, true)});
    if (model.diameterM)
        entries.push_back({kIsoFlowColor, Qt::DotLine,
                           QObject::tr("Lines of equal flow (%1)").arg(model.flowUnit)});

    const QFontMetricsF metrics(painter.font());
    const double line = metrics.height() * 1.15;
    const double swatch = metrics.height() * 1.6;
    double width = 0;
    for (const LegendEntry &e : entries)
        width = std::max(width, metrics.horizontalAdvance(e.text));
    width = std::min(width + swatch + 16, frame.plot.width() - 8);
    const QRectF box(frame.plot.left() + 6, frame.plot.top() + 6, width, line * entries.size() + 8);
    painter.save();
    painter.setPen(QColor(200, 200, 200));
    painter.setBrush(QColor(255, 255, 255, 225));
    painter.drawRect(box);
    for (size_t i = 0; i < entries.size(); ++i) {
        const LegendEntry &e = entries[i];
        const double y = box.top() + 4 + line * i + line / 2;
        const double x = box.left() + 5;
        if (e.dot) {
            painter.setPen(QPen(e.color, 5, Qt::SolidLine, Qt::RoundCap));
            painter.drawPoint(QPointF(x + swatch / 2, y));
        } else if (e.color != Qt::transparent) {
            painter.setPen(QPen(e.color, 2, e.style));
            painter.drawLine(QPointF(x, y), QPointF(x + swatch, y));
        }
        painter.setPen(Qt::black);
        painter.drawText(QRectF(x + swatch + 6, y - line / 2, box.right() - x - swatch - 8, line),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(e.text, Qt::ElideRight, box.right() - x - swatch - 8));
    }
    painter.restore();
}

} // namespace

ScattergraphModel scattergraphModel(const survey::SurveySeries &series, qint64 fromUtcMs,
                                    qint64 toUtcMs)
{
    ScattergraphModel model;
    model.fromUtcMs = fromUtcMs;
    model.toUtcMs = toUtcMs;
    const survey::SurveySetup &setup = series.setup;
    model.depthUnit = survey::unitName(setup.depthUnit);
    model.velocityUnit = survey::unitName(setup.velocityUnit);
    model.flowUnit = survey::unitName(setup.flowUnit);
    model.depthFactor = survey::toMetres(setup.depthUnit);
    model.velocityFactor = survey::toMetresPerSecond(setup.velocityUnit);
    model.flowFactor = survey::toCubicMetresPerSecond(setup.flowUnit);
    if (setup.pipe.diameterM && *setup.pipe.diameterM > 0) {
        model.diameterM = setup.pipe.diameterM;
        model.crown = *setup.pipe.diameterM / model.depthFactor;
    }

    std::vector<double> depths, velocities;
    if (series.depth.size() == series.size() && series.velocity.size() == series.size()) {
        const auto [first, last] = survey::indexRange(series, fromUtcMs, toUtcMs);
        depths.reserve(last - first);
        velocities.reserve(last - first);
        model.points.reserve(last - first);
        model.pointUtcMs.reserve(last - first);
        for (size_t i = first; i < last; ++i) {
            const double d = series.depth[i];
            const double v = series.velocity[i];
            if (!std::isfinite(d) || !std::isfinite(v))
                continue;
            depths.push_back(d);
            velocities.push_back(v);
            model.points.emplace_back(d / model.depthFactor, v / model.velocityFactor);
            model.pointUtcMs.push_back(series.utcMs[i]);
        }
    }

    if (!model.diameterM)
        return model;
    const double diameter = *model.diameterM;
    if (setup.pipe.complete()) {
        const double slope = *setup.pipe.slope, n = *setup.pipe.manningN;
        model.manning = sampledCurve(QObject::tr("Manning design"), kManningColor, diameter, 0,
                                     model.depthFactor, model.velocityFactor, [&](double d) {
                                         return survey::manningVelocity(diameter, d, slope, n);
                                     });
    }
    model.lanfearColl = survey::fitLanfearColl(diameter, depths, velocities);
    model.stevensSchutzbach = survey::fitStevensSchutzbach(diameter, depths, velocities);
    if (model.lanfearColl.valid) {
        const survey::CurveFit fit = model.lanfearColl;
        model.lanfearCollCurve = sampledCurve(
            QObject::tr("Lanfear-Coll"), kLanfearCollColor, diameter, 0, model.depthFactor,
            model.velocityFactor, [&](double d) { return fit.velocityAt(diameter, d); });
    }
    if (model.stevensSchutzbach.valid) {
        const survey::CurveFit fit = model.stevensSchutzbach;
        model.stevensSchutzbachCurve = sampledCurve(
            QObject::tr("Stevens-Schutzbach"), kStevensSchutzbachColor, diameter,
            std::clamp(fit.offsetM, 0.0, diameter), model.depthFactor, model.velocityFactor,
            [&](double d) { return fit.velocityAt(diameter, d); });
    }
    return model;
}

ScatterRange defaultScatterRange(const ScattergraphModel &model)
{
    ValueSpan depth, velocity;
    for (const QPointF &p : model.points) {
        depth.include(p.x());
        velocity.include(p.y());
    }
    if (model.crown)
        depth.include(*model.crown);
    for (const ScatterCurve *curve :
         {&model.manning, &model.lanfearCollCurve, &model.stevensSchutzbachCurve})
        for (const QPointF &p : curve->points)
            velocity.include(p.y());
    const auto axis = [](ValueSpan span) {
        if (!span.used)
            return std::pair(0.0, 1.0);
        // Scattergraphs are read from the origin: depth and velocity start at 0 unless the data go
        // below.
        span.min = std::min(span.min, 0.0);
        if (span.max <= span.min)
            span.max = span.min + 1;
        const double step = niceStep((span.max - span.min) * 1.04 / 6);
        return std::pair(std::floor(span.min / step) * step,
                         std::ceil(span.max * 1.04 / step) * step);
    };
    const auto [dMin, dMax] = axis(depth);
    const auto [vMin, vMax] = axis(velocity);
    return {dMin, dMax, vMin, vMax};
}

QStringList scattergraphCurveTexts(const ScattergraphModel &model)
{
    QStringList texts;
    texts << manningText(model);
    texts << fitText(QObject::tr("Lanfear-Coll"), model.lanfearColl, model, false);
    texts << fitText(QObject::tr("Stevens-Schutzbach"), model.stevensSchutzbach, model, true);
    return texts;
}

std::vector<double> isoFlowValues(const ScattergraphModel &model, const ScatterRange &range)
{
    if (!model.diameterM || range.velocityMax <= 0 || range.depthMax <= 0)
        return {};
    const double diameter = *model.diameterM;
    const double deepest = std::min(range.depthMax * model.depthFactor, diameter);
    const double shallowest = std::clamp(range.depthMin * model.depthFactor, 0.0, diameter);
    // The flows whose lines cross the box: from its bottom-left corner to its top-right.
    const double most =
        range.velocityMax * model.velocityFactor * areaAt(diameter, deepest) / model.flowFactor;
    const double least = std::max(range.velocityMin, 0.0) * model.velocityFactor *
                         areaAt(diameter, shallowest) / model.flowFactor;
    if (!(most > least))
        return {};
    // The largest step of 1, 2, 2.5 or 5 times a power of ten that gives at
    // least four lines; past six, those nearest the top right corner (where
    // they cross least of the box) are left out.
    const auto flowsAt = [&](double step) {
        std::vector<double> flows;
        for (double k = std::floor(least / step) + 1; k * step < most * 0.999 && flows.size() < 100;
             ++k)
            if (k > 0)
                flows.push_back(k * step);
        return flows;
    };
    const auto smaller = [](double step) {
        const double magnitude = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        const double fraction = std::round(step / magnitude * 10) / 10;
        return fraction >= 5     ? 2.5 * magnitude
               : fraction >= 2.5 ? 2 * magnitude
               : fraction >= 2   ? magnitude
                                 : magnitude / 2;
    };
    double step = niceStep(most - least);
    std::vector<double> flows = flowsAt(step);
    for (int i = 0; i < 20 && flows.size() < 4; ++i) {
        step = smaller(step);
        flows = flowsAt(step);
    }
    if (flows.size() > 6)
        flows.resize(6);
    return flows;
}

QPointF ScatterFrame::toPixel(double depth, double velocity) const
{
    const double dx = range.depthMax - range.depthMin;
    const double dy = range.velocityMax - range.velocityMin;
    return {plot.left() + (depth - range.depthMin) / (dx > 0 ? dx : 1) * plot.width(),
            plot.bottom() - (velocity - range.velocityMin) / (dy > 0 ? dy : 1) * plot.height()};
}

QPointF ScatterFrame::toValue(const QPointF &pixel) const
{
    return {range.depthMin + (pixel.x() - plot.left()) / std::max(plot.width(), 1.0) *
                                 (range.depthMax - range.depthMin),
            range.velocityMin + (plot.bottom() - pixel.y()) / std::max(plot.height(), 1.0) *
                                    (range.velocityMax - range.velocityMin)};
}

ScatterFrame scatterFrame(const QRectF &area, const QFont &font, const ScatterRange &range)
{
    const QFontMetricsF metrics(font);
    const double h = metrics.height();
    // Room for the title, the tick labels and the axis titles.
    const double left = metrics.horizontalAdvance(QStringLiteral("-0000.00")) + h * 1.8;
    const QRectF plot = area.adjusted(left, h * 2.2, -h * 1.2, -h * 3.2);
    return {plot.isValid() ? plot : QRectF(area.center(), QSizeF(1, 1)), range};
}

QColor scatterPointColor(double age)
{
    const double t = std::clamp(age, 0.0, 1.0);
    const QColor light(165, 200, 240), dark(10, 35, 105);
    return QColor::fromRgbF(float(light.redF() + (dark.redF() - light.redF()) * t),
                            float(light.greenF() + (dark.greenF() - light.greenF()) * t),
                            float(light.blueF() + (dark.blueF() - light.blueF()) * t));
}

void paintScattergraph(QPainter &painter, const QRectF &area, const ScattergraphModel &model,
                       const ScatterRange &range)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(area, Qt::white);
    const ScatterFrame frame = scatterFrame(area, painter.font(), range);
    const QFontMetricsF metrics(painter.font());

    if (!model.title.isEmpty()) {
        QFont bold = painter.font();
        bold.setBold(true);
        painter.save();
        painter.setFont(bold);
        painter.drawText(QRectF(area.left(), area.top(), area.width(), metrics.height() * 1.8),
                         Qt::AlignCenter, model.title);
        painter.restore();
    }

    const AxisTicks depthTicks =
        axisTicks(range.depthMin, range.depthMax,
                  std::max(2, int(frame.plot.width() / (metrics.height() * 6))));
    const AxisTicks velocityTicks =
        axisTicks(range.velocityMin, range.velocityMax,
                  std::max(2, int(frame.plot.height() / (metrics.height() * 3))));
    painter.setPen(QColor(232, 232, 232));
    for (double x : depthTicks.values)
        painter.drawLine(frame.toPixel(x, range.velocityMin), frame.toPixel(x, range.velocityMax));
    for (double y : velocityTicks.values)
        painter.drawLine(frame.toPixel(range.depthMin, y), frame.toPixel(range.depthMax, y));

    painter.save();
    painter.setClipRect(frame.plot);
    drawIsoFlows(painter, frame, model);

    if (!model.points.empty()) {
        // One drawPoints per shade with a round pen: a year of points in a few calls.
        const double oldest = double(model.pointUtcMs.front());
        const double span = std::max(1.0, double(model.pointUtcMs.back()) - oldest);
        std::array<std::vector<QPointF>, kShades> buckets;
        for (auto &bucket : buckets)
            bucket.reserve(model.points.size() / kShades + 1);
        for (size_t i = 0; i < model.points.size(); ++i) {
            const int shade =
                std::min(kShades - 1, int((model.pointUtcMs[i] - oldest) / span * kShades));
            buckets[shade].push_back(frame.toPixel(model.points[i].x(), model.points[i].y()));
        }
        const double dot = std::clamp(frame.plot.width() / 220, 3.0, 7.0);
        const bool raster =
            painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Raster;
        for (int shade = 0; shade < kShades; ++shade) {
            if (buckets[shade].empty())
                continue;
            const QColor color = scatterPointColor((shade + 0.5) / kShades);
            if (raster) {
                // On pixels a dot drawn once and copied per point is some twenty
                // times quicker than a round pen stroked per point.
                const QImage sprite = dotSprite(color, dot, painter.device()->devicePixelRatioF());
                const QPointF half(dot / 2, dot / 2);
                for (const QPointF &p : buckets[shade])
                    painter.drawImage(p - half, sprite);
            } else {
                painter.setPen(QPen(color, dot, Qt::SolidLine, Qt::RoundCap));
                painter.drawPoints(buckets[shade].data(), int(buckets[shade].size()));
            }
        }
    }

    for (const ScatterCurve *curve :
         {&model.manning, &model.lanfearCollCurve, &model.stevensSchutzbachCurve}) {
        if (curve->points.empty())
            continue;
        painter.setPen(QPen(curve->color, 2.2));
        drawPolyline(painter, frame, curve->points);
    }
    if (model.crown) {
        painter.setPen(QPen(kCrownColor, 1.6, Qt::DashLine));
        painter.drawLine(frame.toPixel(*model.crown, range.velocityMin),
                         frame.toPixel(*model.crown, range.velocityMax));
    }
    painter.restore();

    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.plot);
    for (double x : depthTicks.values) {
        const QPointF at = frame.toPixel(x, range.velocityMin);
        painter.drawLine(at, at + QPointF(0, 4));
        painter.drawText(QRectF(at.x() - 60, at.y() + 5, 120, metrics.height()),
                         Qt::AlignHCenter | Qt::AlignTop, numberText(x, depthTicks.step));
    }
    for (double y : velocityTicks.values) {
        const QPointF at = frame.toPixel(range.depthMin, y);
        painter.drawLine(at, at - QPointF(4, 0));
        painter.drawText(QRectF(area.left(), at.y() - metrics.height() / 2,
                                at.x() - area.left() - 6, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, numberText(y, velocityTicks.step));
    }
    painter.drawText(QRectF(frame.plot.left(), frame.plot.bottom() + metrics.height() * 1.5,
                            frame.plot.width(), metrics.height() * 1.4),
                     Qt::AlignCenter, QObject::tr("Depth (%1)").arg(model.depthUnit));
    painter.save();
    painter.translate(area.left() + metrics.height() * 0.2, frame.plot.center().y());
    painter.rotate(-90);
    painter.drawText(
        QRectF(-frame.plot.height() / 2, 0, frame.plot.height(), metrics.height() * 1.2),
        Qt::AlignCenter, QObject::tr("Velocity (%1)").arg(model.velocityUnit));
    painter.restore();

    if (model.points.empty()) {
        painter.setPen(QColor(120, 120, 120));
        painter.drawText(frame.plot, Qt::AlignCenter,
                         QObject::tr("No instant in this period has both a depth and a velocity"));
    }
    drawLegend(painter, frame, model);
    painter.restore();
}

} // namespace ostrand
