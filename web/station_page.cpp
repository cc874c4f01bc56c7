#include "station_page.h"

#include "export/reading_export.h"
#include "store/time_text.h"
#include "survey/daily_summary.h"
#include "survey/pipe_curves.h"
#include "survey/survey_tables.h"
#include "web/fleet_page.h"
#include "web/fleet_rows.h"
#include "web/html_escape.h"
#include "web/svg_hydrograph.h"
#include "web/svg_scattergraph.h"

#include <QUrl>
#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrand::web {

using collect::StoredReading;
using namespace survey;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The collections the page lists, newest first.
constexpr int kCollectionsShown = 20;

QString esc(const QString &text)
{
    return htmlEscaped(text);
}

QString zonedTime(qint64 utcMs, const QTimeZone &zone)
{
    const QDateTime time =
        QDateTime::fromMSecsSinceEpoch(utcMs, zone.isValid() ? zone : QTimeZone(0));
    return time.toString(Qt::ISODate);
}

std::vector<double> scaled(const std::vector<double> &values, double factor)
{
    std::vector<double> out(values.size());
    std::transform(values.begin(), values.end(), out.begin(),
                   [factor](double v) { return v * factor; });
    return out;
}

// The lines to draw: the survey's quantities when a role is known, else every channel as logged.
std::vector<HydrographLine> hydrographLines(const SurveySeries &series,
                                            const std::vector<StoredReading> &readings)
{
    std::vector<HydrographLine> lines;
    const SurveySetup &units = series.setup;
    if (series.hasDepth())
        lines.push_back({QStringLiteral("Depth"), unitName(units.depthUnit), series.utcMs,
                         scaled(series.depth, 1 / toMetres(units.depthUnit))});
    if (series.hasVelocity())
        lines.push_back({QStringLiteral("Velocity"), unitName(units.velocityUnit), series.utcMs,
                         scaled(series.velocity, 1 / toMetresPerSecond(units.velocityUnit))});
    if (series.hasFlow())
        lines.push_back({series.flowFromSection ? QStringLiteral("Flow (from depth and velocity)")
                                                : QStringLiteral("Flow"),
                         unitName(units.flowUnit), series.utcMs,
                         scaled(series.flow, 1 / toCubicMetresPerSecond(units.flowUnit))});
    if (!lines.empty())
        return lines;
    for (int channel = 1; channel <= 8; ++channel) {
        HydrographLine line;
        line.utcMs = series.utcMs;
        line.values.assign(series.utcMs.size(), kNaN);
        bool any = false;
        for (const StoredReading &r : readings) {
            if (r.channel != channel)
                continue;
            const qint64 ms = r.timeUtc.toMSecsSinceEpoch();
            const auto at = std::lower_bound(series.utcMs.begin(), series.utcMs.end(), ms);
            if (at == series.utcMs.end() || *at != ms)
                continue;
            line.values[at - series.utcMs.begin()] = r.value;
            line.unit = r.unit;
            any = true;
        }
        if (!any)
            continue;
        line.title = series.labels[channel - 1].isEmpty()
                         ? QStringLiteral("Channel %1").arg(channel)
                         : series.labels[channel - 1];
        lines.push_back(std::move(line));
    }
    return lines;
}

QString dailyTable(const SurveySummary &summary, const SurveySeries &series)
{
    const FlowUnit flowUnit = series.setup.flowUnit;
    const VolumeUnit volumeUnit = volumeUnitFor(flowUnit);
    const double perVolume = 1 / toCubicMetres(volumeUnit),
                 perFlow = 1 / toCubicMetresPerSecond(flowUnit);
    const QString volume = esc(unitName(volumeUnit)), flow = esc(unitName(flowUnit));
    QString html = QStringLiteral("<table class=\"daily\"><thead><tr><th>Date</th><th>Volume "
                                  "(%1)</th><th>Volume from total (%1)</th>"
                                  "<th>Min flow (%2)</th><th>Mean flow (%2)</th><th>Max flow "
                                  "(%2)</th><th>Min night flow (%2)</th>"
                                  "<th>Readings</th><th>Expected</th><th>Completeness "
                                  "(%)</th><th>Quality</th></tr></thead><tbody>")
                       .arg(volume, flow);
    for (const DaySummary &day : summary.days) {
        const QStringList cells{surveyNumber(day.volume * perVolume),
                                day.volumeFromTotal ? surveyNumber(*day.volumeFromTotal * perVolume)
                                                    : QString(),
                                surveyNumber(day.minFlow * perFlow),
                                surveyNumber(day.meanFlow * perFlow),
                                surveyNumber(day.maxFlow * perFlow),
                                surveyNumber(day.minNightFlow * perFlow),
                                QString::number(day.readings),
                                QString::number(day.expected),
                                surveyNumber(day.completeness * 100)};
        html += QStringLiteral("<tr><td>%1</td>").arg(day.date.toString(Qt::ISODate));
        for (const QString &cell : cells)
            html += QStringLiteral("<td class=\"num\">%1</td>").arg(cell);
        html += QStringLiteral("<td class=\"q-%1\">%1</td></tr>").arg(qualityName(day.quality));
    }
    return html + QStringLiteral("</tbody></table>\n");
}

QString gapsTable(const SurveySummary &summary, const QTimeZone &zone)
{
    if (summary.gaps.empty())
        return QStringLiteral("<p>No gaps in these days.</p>\n");
    QString html =
        QStringLiteral("<table class=\"gaps\"><thead><tr><th>Start</th><th>End</th><th>Missing "
                       "intervals</th></tr></thead><tbody>");
    for (const Gap &gap : summary.gaps)
        html +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td class=\"num\">%3</td></tr>")
                .arg(zonedTime(gap.firstMissingUtcMs, zone), zonedTime(gap.lastMissingUtcMs, zone))
                .arg(gap.missingIntervals);
    return html + QStringLiteral("</tbody></table>\n");
}

QString scatterSection(const SurveySeries &series)
{
    if (!series.hasDepth() || !series.hasVelocity())
        return QStringLiteral(
            "<p class=\"muted\">No scattergraph: no channel is known to log both depth and "
            "velocity (depth-channel and velocity-channel in the stations file).</p>\n");
    const SurveySetup &units = series.setup;
    Scatter scatter;
    scatter.depthM = series.depth;
    scatter.velocityMs = series.velocity;
    scatter.depthUnit = unitName(units.depthUnit);
    scatter.velocityUnit = unitName(units.velocityUnit);
    scatter.depthPerMetre = 1 / toMetres(units.depthUnit);
    scatter.velocityPerMetrePerSecond = 1 / toMetresPerSecond(units.velocityUnit);
    scatter.diameterM = units.pipe.diameterM;
    QString fits;
    if (scatter.diameterM) {
        scatter.lanfearColl = fitLanfearColl(*scatter.diameterM, series.depth, series.velocity);
        scatter.stevensSchutzbach =
            fitStevensSchutzbach(*scatter.diameterM, series.depth, series.velocity);
        fits =
            QStringLiteral(
                "<table class=\"fits\"><thead><tr><th>Curve</th><th>C (m<sup>1/3</sup>/s)</th>"
                "<th>Silt or offset (%1)</th><th>R&sup2;</th><th>Points</th></tr></thead><tbody>")
                .arg(esc(scatter.depthUnit));
        const std::pair<const char *, const CurveFit *> rows[] = {
            {"Lanfear-Coll", &scatter.lanfearColl},
            {"Stevens-Schutzbach", &scatter.stevensSchutzbach}};
        for (const auto &[name, fit] : rows) {
            if (!fit->valid) {
                fits += QStringLiteral("<tr><td>%1</td><td colspan=\"4\" class=\"muted\">too few "
                                       "readings to fit</td></tr>")
                            .arg(QLatin1String(name));
                continue;
            }
            fits +=
                QStringLiteral("<tr><td>%1</td><td class=\"num\">%2</td><td class=\"num\">%3</td>"
                               "<td class=\"num\">%4</td><td class=\"num\">%5</td></tr>")
                    .arg(QLatin1String(name), surveyNumber(fit->coefficient),
                         surveyNumber(fit->offsetM * scatter.depthPerMetre),
                         surveyNumber(fit->rSquared))
                    .arg(fit->points);
        }
        fits += QStringLiteral(
            "</tbody></table><p class=\"muted\">Lanfear-Coll in red, Stevens-Schutzbach in "
            "green.</p>\n");
    } else {
        fits =
            QStringLiteral("<p class=\"muted\">No fitted curves: the pipe's diameter is not known "
                           "(pipe-diameter in the stations file).</p>\n");
    }
    return scattergraphSvg(scatter) + fits;
}

QString collectionsTable(const QString &station, const std::vector<collect::CollectionRow> &runs)
{
    std::vector<const collect::CollectionRow *> own;
    for (const collect::CollectionRow &run : runs)
        if (run.station == station)
            own.push_back(&run);
    if (own.empty())
        return QStringLiteral("<p>No collections in these days.</p>\n");
    QString html = QStringLiteral(
        "<table class=\"collections\"><thead><tr><th>Started</th><th>Finished</th>"
        "<th>Result</th><th>New readings</th><th>Attempts</th><th>Error</th></tr></thead><tbody>");
    int shown = 0;
    for (auto it = own.rbegin(); it != own.rend() && shown < kCollectionsShown; ++it, ++shown) {
        const collect::CollectionRow &run = **it;
        html +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td class=\"num\">%4</td><td "
                           "class=\"num\">%5</td>"
                           "<td class=\"err\">%6</td></tr>")
                .arg(esc(collect::utcText(run.startedUtc)), esc(collect::utcText(run.finishedUtc)),
                     esc(run.result), QString::number(run.newReadings),
                     QString::number(run.attempts), esc(run.error));
    }
    return html + QStringLiteral("</tbody></table>\n");
}

QString downloadLinks(const QString &station, const QDateTime &fromUtc, const QDateTime &toUtc)
{
    QString html = QStringLiteral("<p>Download these days: ");
    const char *formats[] = {"iso-csv", "csv", "influx"};
    for (const char *format : formats) {
        const QString href =
            QStringLiteral("/api/stations/%1/readings?from=%2&to=%3&format=%4")
                .arg(pathSegment(station),
                     QString::fromLatin1(QUrl::toPercentEncoding(collect::utcText(fromUtc))),
                     QString::fromLatin1(QUrl::toPercentEncoding(collect::utcText(toUtc))),
                     QLatin1String(format));
        html +=
            QStringLiteral("<a href=\"%1\" download>%2</a> ").arg(esc(href), QLatin1String(format));
    }
    return html + QStringLiteral("</p>\n");
}

} // namespace

QDateTime stationPageFrom(const collect::Station &station, const QDateTime &nowUtc)
{
    const QTimeZone zone = station.timeZone();
    const QDate today = nowUtc.toTimeZone(zone).date();
    return QDateTime(today.addDays(-(kStationPageDays - 1)), QTime(0, 0), zone).toUTC();
}

std::optional<QByteArray> stationPage(const collect::Station &station,
                                      const collect::StationHealth &health,
                                      collect::StoreReader &store, const QDateTime &nowUtc,
                                      QString *error)
{
    const QTimeZone zone = station.timeZone();
    const QDateTime fromUtc = stationPageFrom(station, nowUtc);
    const auto readings = store.readings({station.name, {}, fromUtc, nowUtc}, error);
    if (!readings)
        return std::nullopt;
    const auto runs = store.collections(fromUtc, error);
    if (!runs)
        return std::nullopt;

    const SurveySeries series = seriesFromReadings(*readings, station.name, station.survey, zone);
    const qint64 fromMs = fromUtc.toMSecsSinceEpoch(), toMs = nowUtc.toMSecsSinceEpoch();
    const int interval = logIntervalSeconds(series.utcMs);
    // A step longer than one and a half intervals is a gap, drawn as one.
    const qint64 breakAfterMs =
        interval > 0 ? qint64(interval) * 1500 : std::numeric_limits<qint64>::max();

    const QString state = collect::stateName(health.state);
    QString html = QStringLiteral("<p><a href=\"/\">&larr; The fleet</a></p>\n<h1>%1 <span "
                                  "class=\"state s-%2\">%2</span></h1>\n")
                       .arg(esc(station.name), esc(state));
    html += QStringLiteral("<p>Last success: %1%2. Last attempt: %3. Zone: %4.</p>\n")
                .arg(health.lastOkUtc ? esc(collect::utcText(*health.lastOkUtc))
                                      : QStringLiteral("never"),
                     health.lastOkUtc ? QStringLiteral(" (%1 ago)").arg(ageText(health.ageSeconds))
                                      : QString(),
                     health.lastAttemptUtc ? esc(collect::utcText(*health.lastAttemptUtc))
                                           : QStringLiteral("never"),
                     esc(QString::fromUtf8(zone.id())));
    if (!health.lastError.isEmpty())
        html += QStringLiteral("<p class=\"err\">Last error: %1</p>\n").arg(esc(health.lastError));

    html += QStringLiteral("<h2>The last %1 days</h2>\n").arg(kStationPageDays);
    const std::vector<HydrographLine> lines = hydrographLines(series, *readings);
    if (lines.empty())
        html += QStringLiteral("<p class=\"err\">No readings in these days.</p>\n");
    for (const HydrographLine &line : lines)
        html += hydrographSvg(line, fromMs, toMs, zone, breakAfterMs);
    html += downloadLinks(station.name, fromUtc, nowUtc);

    html += QStringLiteral("<h2>Daily summary</h2>\n");
    if (interval == 0) {
        html +=
            QStringLiteral("<p class=\"muted\">Too few readings to tell the log interval.</p>\n");
    } else {
        const SurveySummary summary = summarize(series, {fromMs, toMs});
        html += QStringLiteral("<p>Log interval: %1 s.</p>\n").arg(interval) +
                dailyTable(summary, series);
        html += QStringLiteral("<h2>Gaps</h2>\n") + gapsTable(summary, zone);
    }
    html += QStringLiteral("<h2>Scattergraph</h2>\n") + scatterSection(series);
    html += QStringLiteral("<h2>Last collections</h2>\n") + collectionsTable(station.name, *runs);
    return pageHead(station.name) + html.toUtf8() + "</body></html>\n";
}

} // namespace ostrand::web
