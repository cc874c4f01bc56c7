#include "survey_report.h"

#include "chart/hydrograph_plot.h"
#include "chart/plot_axes.h"
#include "chart/scattergraph_plot.h"
#include "platform/save_file.h"
#include "report/csv_rows.h"
#include "report/report_pages.h"
#include "survey/survey_tables.h"
#include "survey/survey_units.h"

#include <QBuffer>
#include <QDateTime>
#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace ostrand::report {
namespace {

using survey::surveyNumber;

constexpr double kA4LandscapeWidthM = 0.297;
constexpr int kPdfResolution = 96;

struct Period {
    qint64 fromUtcMs = 0;
    qint64 toUtcMs = 0;
};

QTimeZone zoneOf(const SurveyReportInput &input)
{
    return input.series.zone.isValid() ? input.series.zone : QTimeZone::utc();
}

// The period asked for, or where none was, the days summarized (else the readings).
Period periodOf(const SurveyReportInput &input)
{
    if (input.toUtcMs > input.fromUtcMs)
        return {input.fromUtcMs, input.toUtcMs};
    if (!input.summary.days.empty())
        return {input.summary.days.front().startUtcMs, input.summary.days.back().endUtcMs};
    if (!input.series.utcMs.empty())
        return {input.series.utcMs.front(), input.series.utcMs.back() + 1};
    return {0, 0};
}

QString localText(qint64 utcMs, const QTimeZone &zone,
                  const QString &format = QStringLiteral("yyyy-MM-dd HH:mm"))
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, zone).toString(format);
}

// Without shaping, so no ligature turns "fl" into one glyph that text
// extraction and searching then read as another letter.
QFont reportFont(QFont font)
{
    font.setPointSizeF(9);
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

QString intervalText(int seconds)
{
    if (seconds <= 0)
        return QObject::tr("not known (too few readings)");
    if (seconds % 3600 == 0)
        return QObject::tr("%1 h").arg(seconds / 3600);
    if (seconds % 60 == 0)
        return QObject::tr("%1 min").arg(seconds / 60);
    return QObject::tr("%1 s").arg(seconds);
}

QString pipeText(const survey::SurveySetup &setup)
{
    const survey::PipeSetup &pipe = setup.pipe;
    if (!pipe.diameterM && !pipe.slope && !pipe.manningN)
        return QObject::tr("not given (no crown line, no curves)");
    QStringList parts;
    parts << (pipe.diameterM
                  ? QObject::tr("diameter %1 %2")
                        .arg(surveyNumber(*pipe.diameterM / survey::toMetres(setup.depthUnit)),
                             survey::unitName(setup.depthUnit))
                  : QObject::tr("diameter not given"));
    parts << (pipe.slope ? QObject::tr("slope %1").arg(surveyNumber(*pipe.slope))
                         : QObject::tr("slope not given"));
    parts << (pipe.manningN ? QObject::tr("Manning's n %1").arg(surveyNumber(*pipe.manningN))
                            : QObject::tr("Manning's n not given"));
    return parts.join(QStringLiteral(", "));
}

QString channelText(const SurveyReportInput &input, const QString &role, int channel,
                    const QString &unit)
{
    if (channel <= 0)
        return QObject::tr("%1: none").arg(role);
    const QString label = input.series.labels[size_t(channel - 1)];
    return label.isEmpty()
               ? QObject::tr("%1: channel %2 (%3)").arg(role).arg(channel).arg(unit)
               : QObject::tr("%1: channel %2 \"%3\" (%4)").arg(role).arg(channel).arg(label, unit);
}

std::vector<double> scaled(const std::vector<double> &values, double factor)
{
    std::vector<double> out(values.size());
    std::transform(values.begin(), values.end(), out.begin(),
                   [factor](double v) { return v / factor; });
    return out;
}

void writeHeading(ReportPages &pages, const SurveyReportInput &input, const Period &period)
{
    const QTimeZone zone = zoneOf(input);
    const survey::SurveySeries &series = input.series;
    const survey::SurveySetup &setup = series.setup;
    const survey::SurveySummary &summary = input.summary;
    pages.heading(QObject::tr("Flow survey: %1").arg(input.station), 1.8);
    pages.line(QObject::tr("Period: %1 to %2 (%3)")
                   .arg(localText(period.fromUtcMs, zone), localText(period.toUtcMs, zone),
                        QString::fromUtf8(zone.id())));
    pages.line(QObject::tr("Time zone: %1; days run from local midnight to midnight")
                   .arg(QString::fromUtf8(zone.id())));
    pages.line(QObject::tr("Log interval: %1").arg(intervalText(summary.intervalSeconds)));
    pages.line(QObject::tr("Pipe: %1").arg(pipeText(setup)));
    pages.line(channelText(input, QObject::tr("Depth"), series.roles.depth,
                           survey::unitName(setup.depthUnit)));
    pages.line(channelText(input, QObject::tr("Velocity"), series.roles.velocity,
                           survey::unitName(setup.velocityUnit)));
    if (series.roles.flow == 0 && series.flowFromSection)
        pages.line(QObject::tr("Flow: depth x velocity x the pipe's section (%1)")
                       .arg(survey::unitName(setup.flowUnit)));
    else
        pages.line(channelText(input, QObject::tr("Flow"), series.roles.flow,
                               survey::unitName(setup.flowUnit)));
    pages.line(channelText(input, QObject::tr("Total"), series.roles.total,
                           survey::unitName(setup.totalUnit)));
    pages.space();

    int good = 0, partial = 0, missing = 0, readings = 0, expected = 0;
    double volume = 0;
    QStringList disagreeing;
    for (const survey::DaySummary &day : summary.days) {
        (day.quality == survey::DayQuality::Good      ? good
         : day.quality == survey::DayQuality::Partial ? partial
                                                      : missing)++;
        readings += day.readings;
        expected += day.expected;
        if (std::isfinite(day.volume))
            volume += day.volume;
        if (day.volumesDisagree)
            disagreeing << day.date.toString(Qt::ISODate);
    }
    const survey::VolumeUnit volumeUnit = survey::volumeUnitFor(setup.flowUnit);
    pages.heading(QObject::tr("Completeness"), 1.2);
    pages.line(QObject::tr("Days: %1 (Good %2, Partial %3, Missing %4); a day is Good with %5 % of "
                           "its readings or more")
                   .arg(summary.days.size())
                   .arg(good)
                   .arg(partial)
                   .arg(missing)
                   .arg(surveyNumber(survey::kGoodCompleteness * 100)));
    pages.line(QObject::tr("Readings: %1 of %2 expected (%3 %)")
                   .arg(readings)
                   .arg(expected)
                   .arg(surveyNumber(expected > 0 ? 100.0 * readings / expected : 0)));
    int missingIntervals = 0;
    for (const survey::Gap &gap : summary.gaps)
        missingIntervals += gap.missingIntervals;
    pages.line(QObject::tr("Gaps: %1, %2 missing intervals in all")
                   .arg(summary.gaps.size())
                   .arg(missingIntervals));
    if (series.hasFlow())
        pages.line(QObject::tr("Volume over the period: %1 %2")
                       .arg(surveyNumber(volume / survey::toCubicMetres(volumeUnit)),
                            survey::unitName(volumeUnit)));
    if (!disagreeing.isEmpty())
        pages.line(QObject::tr("Flow and totalizer volumes differ by more than %1 % on: %2")
                       .arg(surveyNumber(survey::kVolumeDisagreement * 100),
                            disagreeing.join(QStringLiteral(", "))));
    pages.space();
    pages.heading(QObject::tr("Contents"), 1.2);
    pages.line(QObject::tr(
        "Hydrographs a week a page; the scattergraph with its fitted curves; the daily table; "
        "the gaps; the dry-weather pattern."));
}

void writeHydrographs(ReportPages &pages, const SurveyReportInput &input, const Period &period)
{
    const QTimeZone zone = zoneOf(input);
    const survey::SurveySeries &series = input.series;
    const survey::SurveySetup &setup = series.setup;
    struct Panel {
        QString title;
        QColor color;
        std::vector<double> values;
    };
    std::vector<Panel> panels;
    if (series.hasDepth() && series.depth.size() == series.size())
        panels.push_back({QObject::tr("Depth (%1)").arg(survey::unitName(setup.depthUnit)),
                          QColor(20, 70, 160),
                          scaled(series.depth, survey::toMetres(setup.depthUnit))});
    if (series.hasVelocity() && series.velocity.size() == series.size())
        panels.push_back({QObject::tr("Velocity (%1)").arg(survey::unitName(setup.velocityUnit)),
                          QColor(200, 90, 0),
                          scaled(series.velocity, survey::toMetresPerSecond(setup.velocityUnit))});
    if (series.hasFlow() && series.flow.size() == series.size())
        panels.push_back({QObject::tr("Flow (%1)").arg(survey::unitName(setup.flowUnit)),
                          QColor(0, 120, 70),
                          scaled(series.flow, survey::toCubicMetresPerSecond(setup.flowUnit))});
    if (panels.empty() || period.toUtcMs <= period.fromUtcMs)
        return;

    const qint64 maxStepMs =
        input.summary.intervalSeconds > 0 ? qint64(input.summary.intervalSeconds) * 1500 : 0;
    const QDate firstDay = QDateTime::fromMSecsSinceEpoch(period.fromUtcMs, zone).date();
    for (int week = 0;; ++week) {
        // Weeks run from local midnight, so a clock change shifts no day's place on the page.
        const qint64 from =
            std::max(period.fromUtcMs,
                     QDateTime(firstDay.addDays(7 * week), QTime(0, 0), zone).toMSecsSinceEpoch());
        const qint64 to = std::min(
            period.toUtcMs,
            QDateTime(firstDay.addDays(7 * (week + 1)), QTime(0, 0), zone).toMSecsSinceEpoch());
        if (from >= period.toUtcMs)
            break;
        pages.nextPage();
        pages.heading(QObject::tr("%1: %2 to %3")
                          .arg(input.station,
                               localText(from, zone, QStringLiteral("ddd yyyy-MM-dd HH:mm")),
                               localText(to, zone, QStringLiteral("ddd yyyy-MM-dd HH:mm"))),
                      1.3);
        const QRectF area = pages.free();
        const double height = area.height() / double(panels.size());
        for (size_t p = 0; p < panels.size(); ++p) {
            HydrographSpec spec;
            spec.title = panels[p].title;
            spec.color = panels[p].color;
            spec.fromUtcMs = from;
            spec.toUtcMs = to;
            spec.zone = zone;
            spec.maxStepMs = maxStepMs;
            paintHydrograph(pages.painter(),
                            QRectF(area.left(), area.top() + height * p, area.width(), height),
                            spec, series.utcMs, panels[p].values);
        }
        pages.take(area.height());
    }
}

// The scattergraph and, below it, each curve's fitted values as text.
void paintScattergraphPage(ReportPages &pages, const SurveyReportInput &input, const Period &period)
{
    const QTimeZone zone = zoneOf(input);
    ScattergraphModel model = scattergraphModel(input.series, period.fromUtcMs, period.toUtcMs);
    pages.heading(
        QObject::tr("Scattergraph: %1, %2 to %3")
            .arg(input.station, localText(period.fromUtcMs, zone), localText(period.toUtcMs, zone)),
        1.3);
    const QStringList texts = scattergraphCurveTexts(model);
    const double lineHeight = QFontMetricsF(pages.painter().font()).height() * 1.25;
    const QRectF plot = pages.take(pages.free().height() - lineHeight * (texts.size() + 1.5));
    paintScattergraph(pages.painter(), plot, model, defaultScatterRange(model));
    pages.space(0.4);
    pages.line(QObject::tr("%1 points with both a depth and a velocity").arg(model.points.size()));
    for (const QString &text : texts)
        pages.line(text);
}

void writeDailyTable(ReportPages &pages, const SurveyReportInput &input)
{
    pages.nextPage();
    pages.heading(QObject::tr("Daily summary: %1").arg(input.station), 1.3);
    std::vector<QStringList> rows =
        csvRows(survey::dailyTableCsv(input.summary, input.series.setup.flowUnit));
    const size_t headerRows = std::min<size_t>(2, rows.size());
    const std::vector<QStringList> header(rows.begin(), rows.begin() + qsizetype(headerRows));
    rows.erase(rows.begin(), rows.begin() + qsizetype(headerRows));
    const std::vector<survey::DaySummary> &days = input.summary.days;
    // The table's rows are the summary's days in order: a day whose two volumes disagree is marked.
    pages.table(header, rows, [&](size_t row, qsizetype column) {
        return column == 2 && row < days.size() && days[row].volumesDisagree ? QColor(255, 228, 170)
                                                                             : QColor();
    });
    pages.space();
    pages.line(QObject::tr("Min night flow: the lowest hourly mean from 00:00 to 06:00. "
                           "Completeness: readings over those the log interval puts in the day."));
    pages.line(
        QObject::tr(
            "A volume from total on amber differs from the volume from flow by more than %1 %.")
            .arg(surveyNumber(survey::kVolumeDisagreement * 100)));
}

// A week a row, Monday first, each day's completeness on the colour of its quality.
void writeCompletenessGrid(ReportPages &pages, const survey::SurveySummary &summary)
{
    if (summary.days.empty())
        return;
    pages.space(0.5);
    pages.heading(QObject::tr("Completeness by day"), 1.2);
    QStringList header{QObject::tr("Week of")};
    for (int d = 1; d <= 7; ++d)
        header << QLocale::c().dayName(d, QLocale::ShortFormat);
    const QDate firstMonday =
        summary.days.front().date.addDays(1 - summary.days.front().date.dayOfWeek());
    std::vector<QStringList> rows;
    std::vector<std::array<std::optional<survey::DayQuality>, 7>> qualities;
    for (const survey::DaySummary &day : summary.days) {
        const auto week = size_t(firstMonday.daysTo(day.date) / 7);
        while (rows.size() <= week) {
            rows.push_back(
                QStringList{firstMonday.addDays(qint64(rows.size()) * 7).toString(Qt::ISODate)});
            for (int d = 0; d < 7; ++d)
                rows.back() << QString();
            qualities.emplace_back();
        }
        const int column = day.date.dayOfWeek();
        // Rounded down, so a Partial day never reads as 95 %.
        rows[week][column] = QStringLiteral("%1 %2 %")
                                 .arg(day.date.toString(QStringLiteral("MM-dd")))
                                 .arg(std::floor(day.completeness * 100), 0, 'f', 0);
        qualities[week][size_t(column - 1)] = day.quality;
    }
    pages.table({header}, rows, [&](size_t row, qsizetype column) {
        if (column == 0 || !qualities[row][size_t(column - 1)])
            return QColor();
        switch (*qualities[row][size_t(column - 1)]) {
        case survey::DayQuality::Good:
            return QColor(214, 240, 214);
        case survey::DayQuality::Partial:
            return QColor(255, 228, 170);
        case survey::DayQuality::Missing:
            break;
        }
        return QColor(248, 196, 196);
    });
    pages.line(
        QObject::tr(
            "Green: Good (%1 % or more of the readings); amber: Partial; red: Missing (none)")
            .arg(surveyNumber(survey::kGoodCompleteness * 100)));
}

void writeGaps(ReportPages &pages, const SurveyReportInput &input)
{
    pages.nextPage();
    pages.heading(QObject::tr("Gaps and completeness: %1").arg(input.station), 1.3);
    QStringList partial, missing;
    for (const survey::DaySummary &day : input.summary.days) {
        if (day.quality == survey::DayQuality::Partial)
            partial << QStringLiteral("%1 (%2 %)")
                           .arg(day.date.toString(Qt::ISODate),
                                surveyNumber(day.completeness * 100));
        else if (day.quality == survey::DayQuality::Missing)
            missing << day.date.toString(Qt::ISODate);
    }
    pages.line(QObject::tr("Partial days: %1")
                   .arg(partial.isEmpty() ? QObject::tr("none") : partial.join(", ")));
    pages.line(QObject::tr("Missing days: %1")
                   .arg(missing.isEmpty() ? QObject::tr("none") : missing.join(", ")));
    writeCompletenessGrid(pages, input.summary);
    pages.space();
    pages.heading(QObject::tr("Gaps"), 1.2);
    if (input.summary.gaps.empty()) {
        pages.line(QObject::tr("No gaps: every reading the log interval expects is there."));
        return;
    }
    std::vector<QStringList> rows = csvRows(survey::gapsCsv(input.summary, zoneOf(input)));
    if (rows.empty())
        return;
    const std::vector<QStringList> header(rows.begin(), rows.begin() + 1);
    rows.erase(rows.begin());
    pages.table(header, rows);
}

void paintPattern(QPainter &painter, const QRectF &area, const survey::DiurnalPattern &pattern,
                  double flowFactor, const QString &flowUnit)
{
    painter.save();
    const QFontMetricsF metrics(painter.font());
    const QRectF plot =
        area.adjusted(metrics.horizontalAdvance(QStringLiteral("-00000.0")) + 8,
                      metrics.height() * 1.5, -metrics.height(), -metrics.height() * 2.5);
    double top = 0;
    for (const auto *hours : {&pattern.weekday, &pattern.weekend})
        for (double v : *hours)
            if (std::isfinite(v))
                top = std::max(top, v / flowFactor);
    const AxisTicks ticks = axisTicks(0, top > 0 ? top * 1.08 : 1, 6);
    const double yMax = ticks.values.empty() ? 1 : std::max(ticks.values.back(), top);
    const auto at = [&](double hour, double v) {
        return QPointF(plot.left() + hour / 23.0 * plot.width(),
                       plot.bottom() - v / yMax * plot.height());
    };
    painter.drawText(QRectF(plot.left(), area.top(), plot.width(), metrics.height() * 1.3),
                     Qt::AlignLeft, QObject::tr("Mean flow by hour (%1)").arg(flowUnit));
    painter.setPen(QColor(232, 232, 232));
    for (double v : ticks.values)
        painter.drawLine(at(0, v), at(23, v));
    painter.setPen(Qt::black);
    painter.drawRect(plot);
    for (double v : ticks.values)
        painter.drawText(QRectF(area.left(), at(0, v).y() - metrics.height() / 2,
                                plot.left() - area.left() - 6, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, surveyNumber(v));
    for (int hour = 0; hour < 24; hour += 3)
        painter.drawText(QRectF(at(hour, 0).x() - 30, plot.bottom() + 4, 60, metrics.height()),
                         Qt::AlignHCenter, QStringLiteral("%1:00").arg(hour, 2, 10, QChar('0')));
    painter.setRenderHint(QPainter::Antialiasing, true);
    const struct {
        const std::array<double, 24> *hours;
        QColor color;
        QString name;
    } lines[] = {{&pattern.weekday, QColor(20, 70, 160), QObject::tr("Weekday")},
                 {&pattern.weekend, QColor(200, 90, 0), QObject::tr("Weekend")}};
    double legendX = plot.left() + 8;
    for (const auto &line : lines) {
        painter.setPen(QPen(line.color, 2));
        QPolygonF run;
        for (int hour = 0; hour < 24; ++hour) {
            const double v = (*line.hours)[size_t(hour)];
            if (std::isfinite(v)) {
                run << at(hour, v / flowFactor);
            } else {
                painter.drawPolyline(run);
                run.clear();
            }
        }
        painter.drawPolyline(run);
        const double y = plot.top() + metrics.height();
        painter.drawLine(QPointF(legendX, y), QPointF(legendX + 24, y));
        painter.setPen(Qt::black);
        painter.drawText(QPointF(legendX + 30, y + metrics.ascent() / 2 - 1), line.name);
        legendX += 40 + metrics.horizontalAdvance(line.name);
    }
    painter.restore();
}

void writePattern(ReportPages &pages, const SurveyReportInput &input)
{
    pages.nextPage();
    pages.heading(QObject::tr("Dry-weather pattern: %1").arg(input.station), 1.3);
    const survey::DiurnalPattern &pattern = input.pattern;
    QStringList days;
    for (const QDate &day : pattern.days)
        days << day.toString(Qt::ISODate);
    const QString from =
        input.dryDays.empty() ? QObject::tr("every Good day") : QObject::tr("the days marked dry");
    pages.line(pattern.days.empty() ? QObject::tr("No day to make it from (%1: none)").arg(from)
                                    : QObject::tr("From %1 (%2): %3")
                                          .arg(from)
                                          .arg(pattern.days.size())
                                          .arg(QFontMetricsF(pages.painter().font())
                                                   .elidedText(days.join(", "), Qt::ElideRight,
                                                               pages.body().width() * 0.8)));
    const QRectF area = pages.free();
    const survey::FlowUnit flowUnit = input.series.setup.flowUnit;
    paintPattern(pages.painter(),
                 QRectF(area.left(), area.top(), area.width() * 0.55, area.height() * 0.8), pattern,
                 survey::toCubicMetresPerSecond(flowUnit), survey::unitName(flowUnit));
    // The table beside the chart: the same cells as the dwf file.
    std::vector<QStringList> rows = csvRows(survey::diurnalCsv(pattern, flowUnit));
    const size_t headerRows = std::min<size_t>(2, rows.size());
    const std::vector<QStringList> header(rows.begin(), rows.begin() + qsizetype(headerRows));
    rows.erase(rows.begin(), rows.begin() + qsizetype(headerRows));
    pages.narrow(area.left() + area.width() * 0.6, area.width() * 0.4, area.top());
    pages.table(header, rows);
    pages.widen();
}

} // namespace

QByteArray surveyPdf(const SurveyReportInput &input)
{
    const Period period = periodOf(input);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF()));
        writer.setResolution(kPdfResolution);
        writer.setTitle(QObject::tr("Flow survey: %1").arg(input.station));
        writer.setCreator(QStringLiteral("Ostrand Download"));
        QPainter painter(&writer);
        painter.setFont(reportFont(painter.font()));
        const QRectF page(0, 0, writer.width(), writer.height());
        const QTimeZone zone = zoneOf(input);
        ReportPages pages(painter, &writer, page,
                          QObject::tr("Flow survey: %1, %2 to %3")
                              .arg(input.station, localText(period.fromUtcMs, zone),
                                   localText(period.toUtcMs, zone)));
        writeHeading(pages, input, period);
        writeHydrographs(pages, input, period);
        pages.nextPage();
        paintScattergraphPage(pages, input, period);
        writeDailyTable(pages, input);
        writeGaps(pages, input);
        writePattern(pages, input);
    }
    return bytes;
}

bool writeSurveyPdf(const SurveyReportInput &input, const QString &path, QString *error)
{
    const QByteArray bytes = surveyPdf(input);
    if (bytes.isEmpty()) {
        if (error)
            *error = QObject::tr("Cannot write %1: the PDF could not be made").arg(path);
        return false;
    }
    return saveFile(path, bytes, error);
}

QImage scattergraphPage(const SurveyReportInput &input, QSize size)
{
    QImage image(size.expandedTo(QSize(200, 150)), QImage::Format_RGB32);
    image.fill(Qt::white);
    // Sized as an A4 page, so the picture reads as the PDF's page does whatever its pixels.
    const int dotsPerMetre = int(std::lround(image.width() / kA4LandscapeWidthM));
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    const Period period = periodOf(input);
    QPainter painter(&image);
    painter.setFont(reportFont(painter.font()));
    const QTimeZone zone = zoneOf(input);
    ReportPages pages(painter, nullptr, QRectF(image.rect()),
                      QObject::tr("Flow survey: %1, %2 to %3")
                          .arg(input.station, localText(period.fromUtcMs, zone),
                               localText(period.toUtcMs, zone)));
    paintScattergraphPage(pages, input, period);
    painter.end();
    return image;
}

bool writeScattergraphPng(const SurveyReportInput &input, const QString &path, QString *error,
                          QSize size)
{
    const QImage image = scattergraphPage(input, size);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        if (error)
            *error =
                QObject::tr("Cannot write %1: the picture could not be encoded as PNG").arg(path);
        return false;
    }
    return saveFile(path, bytes, error);
}

} // namespace ostrand::report
