#include "svg_scattergraph.h"

#include "survey/survey_tables.h"
#include "web/html_escape.h"
#include "web/svg_axes.h"

#include <algorithm>
#include <cmath>

namespace ostrand::web {
namespace {

constexpr double kSize = 420;
constexpr double kLeft = 60, kRight = 12, kTop = 12, kBottom = 40;

} // namespace

QString scattergraphSvg(const Scatter &s)
{
    std::vector<std::pair<double, double>> points; // velocity, depth in the shown units
    double vLow = 0, vHigh = 0, dHigh = 0;
    for (size_t i = 0; i < s.depthM.size() && i < s.velocityMs.size(); ++i) {
        if (!std::isfinite(s.depthM[i]) || !std::isfinite(s.velocityMs[i]))
            continue;
        const double v = s.velocityMs[i] * s.velocityPerMetrePerSecond,
                     d = s.depthM[i] * s.depthPerMetre;
        points.emplace_back(v, d);
        vLow = std::min(vLow, v);
        vHigh = std::max(vHigh, v);
        dHigh = std::max(dHigh, d);
    }
    if (s.diameterM)
        dHigh = std::max(dHigh, *s.diameterM * s.depthPerMetre);
    const std::vector<double> vTicks = axisTicks(vLow, vHigh), dTicks = axisTicks(0, dHigh);
    const double plotW = kSize - kLeft - kRight, plotH = kSize - kTop - kBottom;
    auto x = [&](double v) {
        return kLeft + plotW * (v - vTicks.front()) / (vTicks.back() - vTicks.front());
    };
    auto y = [&](double d) {
        return kTop + plotH * (1 - (d - dTicks.front()) / (dTicks.back() - dTicks.front()));
    };

    const QString depthTitle = htmlEscaped(QStringLiteral("Depth (%1)").arg(s.depthUnit));
    const QString velocityTitle = htmlEscaped(QStringLiteral("Velocity (%1)").arg(s.velocityUnit));
    QString svg =
        QStringLiteral(
            "<svg class=\"scattergraph\" xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
            "height=\"%1\" viewBox=\"0 0 %1 %1\" role=\"img\" aria-label=\"Scattergraph\">"
            "<title>Scattergraph: %2 against %3</title>")
            .arg(kSize)
            .arg(depthTitle, velocityTitle);
    svg += QStringLiteral(
               "<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"none\" stroke=\"#999\"/>")
               .arg(kLeft)
               .arg(kTop)
               .arg(plotW)
               .arg(plotH);
    for (const double t : dTicks)
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>")
                   .arg(kLeft - 4)
                   .arg(svgNumber(y(t) + 4))
                   .arg(survey::surveyNumber(t));
    for (const double t : vTicks)
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
                   .arg(svgNumber(x(t)))
                   .arg(kTop + plotH + 14)
                   .arg(survey::surveyNumber(t));
    svg += QStringLiteral(
               "<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>"
               "<text transform=\"translate(14 %4) rotate(-90)\" text-anchor=\"middle\">%5</text>")
               .arg(svgNumber(kLeft + plotW / 2), svgNumber(kSize - 6), velocityTitle,
                    svgNumber(kTop + plotH / 2), depthTitle);
    for (const auto &[v, d] : points)
        svg += QStringLiteral(
                   "<circle cx=\"%1\" cy=\"%2\" r=\"1.8\" fill=\"#1a5fb4\" fill-opacity=\"0.5\"/>")
                   .arg(svgNumber(x(v)), svgNumber(y(d)));
    // The fitted curves across the pipe's depth.
    const struct {
        const survey::CurveFit *fit;
        const char *colour;
    } curves[] = {{&s.lanfearColl, "#c62828"}, {&s.stevensSchutzbach, "#2e7d32"}};
    if (s.diameterM) {
        for (const auto &curve : curves) {
            if (!curve.fit->valid)
                continue;
            QString path;
            for (int k = 0; k <= 60; ++k) {
                const double depth = *s.diameterM * k / 60;
                const double v =
                    curve.fit->velocityAt(*s.diameterM, depth) * s.velocityPerMetrePerSecond;
                if (!std::isfinite(v) || v < vTicks.front() || v > vTicks.back())
                    continue;
                path += QChar(path.isEmpty() ? u'M' : u'L') + svgNumber(x(v)) + u' ' +
                        svgNumber(y(depth * s.depthPerMetre));
            }
            svg +=
                QStringLiteral("<path d=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"1.5\"/>")
                    .arg(path, QLatin1String(curve.colour));
        }
    }
    return svg + QStringLiteral("</svg>");
}

} // namespace ostrand::web
