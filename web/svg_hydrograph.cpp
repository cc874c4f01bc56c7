#include "svg_hydrograph.h"

#include "survey/survey_tables.h"
#include "web/html_escape.h"
#include "web/svg_axes.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace ostrand::web {
namespace {

constexpr double kWidth = 900, kHeight = 180;
constexpr double kLeft = 60, kRight = 10, kTop = 22, kBottom = 24;

} // namespace

QString hydrographSvg(const HydrographLine &line, qint64 fromUtcMs, qint64 toUtcMs,
                      const QTimeZone &zone, qint64 breakAfterMs)
{
    double low = INFINITY, high = -INFINITY;
    for (size_t i = 0; i < line.values.size(); ++i)
        if (std::isfinite(line.values[i]) && line.utcMs[i] >= fromUtcMs &&
            line.utcMs[i] < toUtcMs) {
            low = std::min(low, line.values[i]);
            high = std::max(high, line.values[i]);
        }
    const bool empty = !std::isfinite(low);
    const std::vector<double> ticks = empty ? std::vector<double>{0, 1} : axisTicks(low, high);
    const double yLow = ticks.front(), yHigh = ticks.back();
    const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
    const double span = double(std::max<qint64>(1, toUtcMs - fromUtcMs));
    auto x = [&](qint64 ms) { return kLeft + plotW * double(ms - fromUtcMs) / span; };
    auto y = [&](double v) { return kTop + plotH * (1 - (v - yLow) / (yHigh - yLow)); };

    const QString title =
        line.unit.isEmpty() ? line.title : QStringLiteral("%1 (%2)").arg(line.title, line.unit);
    QString svg =
        QStringLiteral(
            "<svg class=\"hydrograph\" xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
            "height=\"%2\" viewBox=\"0 0 %1 %2\" role=\"img\" aria-label=\"%3\">"
            "<title>%3</title><text x=\"%4\" y=\"14\" font-weight=\"bold\">%3</text>")
            .arg(svgNumber(kWidth), svgNumber(kHeight), htmlEscaped(title), svgNumber(kLeft));
    svg += QStringLiteral(
               "<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"none\" stroke=\"#999\"/>")
               .arg(kLeft)
               .arg(kTop)
               .arg(plotW)
               .arg(plotH);
    for (const double t : ticks)
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" stroke=\"#eee\"/>"
                              "<text x=\"%4\" y=\"%5\" text-anchor=\"end\">%6</text>")
                   .arg(kLeft)
                   .arg(kLeft + plotW)
                   .arg(svgNumber(y(t)))
                   .arg(kLeft - 4)
                   .arg(svgNumber(y(t) + 4))
                   .arg(htmlEscaped(survey::surveyNumber(t)));
    // Days at the station's own midnights.
    const QTimeZone shown = zone.isValid() ? zone : QTimeZone(0);
    QDate day = QDateTime::fromMSecsSinceEpoch(fromUtcMs, shown).date();
    for (int guard = 0; guard < 400; ++guard, day = day.addDays(1)) {
        const qint64 ms = QDateTime(day, QTime(0, 0), shown).toMSecsSinceEpoch();
        if (ms >= toUtcMs)
            break;
        if (ms < fromUtcMs)
            continue;
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%1\" y1=\"%2\" y2=\"%3\" stroke=\"#ccc\"/>"
                              "<text x=\"%4\" y=\"%5\">%6</text>")
                   .arg(svgNumber(x(ms)))
                   .arg(kTop)
                   .arg(kTop + plotH)
                   .arg(svgNumber(x(ms) + 3))
                   .arg(kHeight - 8)
                   .arg(day.toString(QStringLiteral("ddd d MMM")));
    }
    if (empty) {
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\" fill=\"#a40000\">no "
                              "readings in these "
                              "days</text></svg>")
                   .arg(kLeft + plotW / 2)
                   .arg(kTop + plotH / 2);
        return svg;
    }
    QString path;
    bool drawing = false;
    qint64 previous = 0;
    for (size_t i = 0; i < line.utcMs.size() && i < line.values.size(); ++i) {
        const qint64 ms = line.utcMs[i];
        if (ms < fromUtcMs || ms >= toUtcMs || !std::isfinite(line.values[i])) {
            drawing = false;
            continue;
        }
        const bool joined = drawing && ms - previous <= breakAfterMs;
        path += joined ? u'L' : u'M';
        path += svgNumber(x(ms)) + u' ' + svgNumber(y(line.values[i]));
        // A reading alone between gaps is a dot, not nothing.
        if (!joined)
            path += QLatin1String("h0");
        drawing = true;
        previous = ms;
    }
    svg += QStringLiteral("<path d=\"%1\" fill=\"none\" stroke=\"#1a5fb4\" stroke-width=\"1.4\" "
                          "stroke-linecap=\"round\"/></svg>")
               .arg(path);
    return svg;
}

} // namespace ostrand::web
