#include "hydrograph_plot.h"

#include "chart/plot_axes.h"
#include "chart/time_ticks.h"
#include "chart/value_scale.h"

#include <QDateTime>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace ostrand {
namespace {

// time_ticks works on the wall clock read as UTC; the plot is laid out in real time.
qint64 wallClockMs(const QTimeZone &zone, qint64 utcMs)
{
    return utcMs +
           qint64(zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC))) * 1000;
}

qint64 realTimeMs(const QTimeZone &zone, double wallMs)
{
    const QDateTime wall = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(wallMs)), Qt::UTC);
    return QDateTime(wall.date(), wall.time(), zone).toMSecsSinceEpoch();
}

QString valueText(double value, double step)
{
    const int decimals = std::clamp(int(-std::floor(std::log10(step) + 1e-9)), 0, 6);
    return QString::number(value, 'f', decimals);
}

} // namespace

QRectF hydrographPlotRect(const QRectF &area, const QFont &font)
{
    const QFontMetricsF metrics(font);
    const double h = metrics.height();
    return area.adjusted(metrics.horizontalAdvance(QStringLiteral("-00000.0")) + 8, h * 1.4, -h,
                         -h * 2.4);
}

double hydrographX(const QRectF &plot, const HydrographSpec &spec, qint64 utcMs)
{
    const double span = std::max<double>(1, double(spec.toUtcMs - spec.fromUtcMs));
    return plot.left() + double(utcMs - spec.fromUtcMs) / span * plot.width();
}

void paintHydrograph(QPainter &painter, const QRectF &area, const HydrographSpec &spec,
                     const std::vector<qint64> &utcMs, const std::vector<double> &values)
{
    painter.save();
    const QFontMetricsF metrics(painter.font());
    const QRectF plot = hydrographPlotRect(area, painter.font());
    const auto first =
        size_t(std::lower_bound(utcMs.begin(), utcMs.end(), spec.fromUtcMs) - utcMs.begin());
    const auto last =
        size_t(std::lower_bound(utcMs.begin(), utcMs.end(), spec.toUtcMs) - utcMs.begin());

    ValueSpan span;
    for (size_t i = first; i < last && i < values.size(); ++i)
        if (std::isfinite(values[i]))
            span.include(values[i]);
    const bool any = span.used;
    if (!any)
        span = {0, 1, true};
    span = roundedOutward(span, 4);
    const AxisTicks ticks =
        axisTicks(span.min, span.max, std::max(2, int(plot.height() / (metrics.height() * 2))));
    const auto yAt = [&](double v) {
        return plot.bottom() - (v - span.min) / (span.max - span.min) * plot.height();
    };

    painter.setPen(Qt::black);
    painter.drawText(QRectF(plot.left(), area.top(), plot.width(), metrics.height() * 1.3),
                     Qt::AlignLeft | Qt::AlignVCenter, spec.title);

    const QTimeZone zone = spec.zone.isValid() ? spec.zone : QTimeZone::utc();
    const double localFrom = double(wallClockMs(zone, spec.fromUtcMs));
    const double localTo = double(wallClockMs(zone, spec.toUtcMs));
    const std::vector<TimeTick> timeMarks =
        timeTicks(localFrom, localTo, std::max(2, int(plot.width() / (metrics.height() * 5))));
    painter.setPen(QColor(232, 232, 232));
    for (double v : ticks.values)
        painter.drawLine(QPointF(plot.left(), yAt(v)), QPointF(plot.right(), yAt(v)));
    std::vector<double> markX;
    for (const TimeTick &tick : timeMarks) {
        const double x = hydrographX(plot, spec, realTimeMs(zone, tick.x));
        markX.push_back(x);
        if (x >= plot.left() && x <= plot.right())
            painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }

    painter.save();
    painter.setClipRect(plot.adjusted(-1, -1, 1, 1));
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(spec.color, 1.2));
    QPolygonF run;
    qint64 previous = 0;
    const auto flush = [&] {
        if (run.size() == 1)
            painter.drawPoint(run.first());
        else if (run.size() > 1)
            painter.drawPolyline(run);
        run.clear();
    };
    for (size_t i = first; i < last && i < values.size(); ++i) {
        // An instant where only other channels were logged is no break of its
        // own: the step between this channel's readings tells whether it missed one.
        if (!std::isfinite(values[i])) {
            if (spec.maxStepMs <= 0)
                flush();
            continue;
        }
        if (!run.isEmpty() && spec.maxStepMs > 0 && utcMs[i] - previous > spec.maxStepMs)
            flush();
        run << QPointF(hydrographX(plot, spec, utcMs[i]), yAt(values[i]));
        previous = utcMs[i];
    }
    flush();
    painter.restore();

    painter.setPen(Qt::black);
    painter.drawRect(plot);
    for (double v : ticks.values) {
        painter.drawLine(QPointF(plot.left() - 4, yAt(v)), QPointF(plot.left(), yAt(v)));
        painter.drawText(QRectF(area.left(), yAt(v) - metrics.height() / 2,
                                plot.left() - area.left() - 6, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, valueText(v, ticks.step));
    }
    for (size_t k = 0; k < timeMarks.size(); ++k) {
        const double x = markX[k];
        if (x < plot.left() - 0.5 || x > plot.right() + 0.5)
            continue;
        painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 4));
        QString label = timeMarks[k].label;
        if (!timeMarks[k].context.isEmpty())
            label += '\n' + timeMarks[k].context;
        painter.drawText(QRectF(x - 60, plot.bottom() + 5, 120, metrics.height() * 2.2),
                         Qt::AlignHCenter | Qt::AlignTop, label);
    }
    if (!any) {
        painter.setPen(QColor(120, 120, 120));
        painter.drawText(plot, Qt::AlignCenter, QObject::tr("No readings"));
    }
    painter.restore();
}

} // namespace ostrand
