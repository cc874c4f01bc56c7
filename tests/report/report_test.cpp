// The survey report read back as a reviewer's tools read it: the PDF's text
// through poppler's pdftotext, the scattergraph's pixels where the points fall.
#include "chart/hydrograph_plot.h"
#include "chart/plot_axes.h"
#include "chart/scattergraph_plot.h"
#include "file_bytes.h"
#include "report/csv_rows.h"
#include "report/survey_report.h"
#include "survey/daily_summary.h"
#include "survey/survey_tables.h"
#include "tests/report/made_up_survey.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

namespace ostrand {
namespace {

using testing::MadeUpSurvey;

report::SurveyReportInput reportInput(const MadeUpSurvey &made)
{
    report::SurveyReportInput input;
    input.station = QStringLiteral("trunk-12");
    input.series = made.series();
    input.fromUtcMs = made.at(0, 0);
    input.toUtcMs = made.at(made.days, 0);
    input.summary = survey::summarize(input.series, {input.fromUtcMs, input.toUtcMs});
    input.pattern = survey::dryWeatherPattern(input.series, input.summary);
    return input;
}

// The text of each page, as pdftotext lays it out, each run of blanks made one.
QStringList pdfPages(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"),
                  {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        ADD_FAILURE() << "pdftotext failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    QStringList pages = QString::fromUtf8(process.readAllStandardOutput()).split(u'\f');
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    for (QString &page : pages)
        page = page.replace(QRegularExpression(QStringLiteral("[ \\t]+")), QStringLiteral(" "));
    return pages;
}

bool bluish(QRgb pixel)
{
    return qBlue(pixel) - qRed(pixel) > 40;
}

TEST(SurveyReport, hasAHeadingAPagePerWeekTheScattergraphTheDailyTableTheGapsAndThePattern)
{
    QTemporaryDir dir;
    MadeUpSurvey made; // 10 days: two weeks of hydrographs
    made.missing = {{made.at(3, 10), made.at(3, 12)}};
    const QString path = dir.filePath(QStringLiteral("survey.pdf"));
    QString error;
    ASSERT_TRUE(report::writeSurveyPdf(reportInput(made), path, &error)) << error.toStdString();

    const QStringList pages = pdfPages(path);
    ASSERT_EQ(pages.size(), 7);
    EXPECT_TRUE(pages[0].contains(QStringLiteral("Flow survey: trunk-12")));
    EXPECT_TRUE(pages[0].contains(QStringLiteral("Log interval: 15 min")));
    EXPECT_TRUE(pages[0].contains(QStringLiteral("Good 9, Partial 1, Missing 0")));
    EXPECT_TRUE(pages[1].contains(QStringLiteral("Mon 2026-03-02 00:00 to Mon 2026-03-09 00:00")));
    EXPECT_TRUE(pages[2].contains(QStringLiteral("Mon 2026-03-09 00:00 to Thu 2026-03-12 00:00")));
    EXPECT_TRUE(pages[3].contains(QStringLiteral("Scattergraph")));
    EXPECT_TRUE(pages[4].contains(QStringLiteral("Daily summary")));
    EXPECT_TRUE(pages[5].contains(QStringLiteral("Partial days: 2026-03-05")));
    EXPECT_TRUE(pages[6].contains(QStringLiteral("Dry-weather pattern")));
}

TEST(SurveyReport, itsTextHoldsTheFittedCurvesAndEveryCellOfTheDailyTableAndTheGaps)
{
    QTemporaryDir dir;
    MadeUpSurvey made;
    made.siltM = 0.05;
    made.missing = {{made.at(3, 10), made.at(3, 12)}, {made.at(6, 23), made.at(7, 1, 30)}};
    const report::SurveyReportInput input = reportInput(made);
    const QString path = dir.filePath(QStringLiteral("survey.pdf"));
    QString error;
    ASSERT_TRUE(report::writeSurveyPdf(input, path, &error)) << error.toStdString();
    const QString text = pdfPages(path).join(u'\n');

    // Fitted to the logged points here, so the values are the fit's, not the ones the data were
    // made with.
    std::vector<double> depths(input.series.depth), velocities(input.series.velocity);
    const survey::CurveFit lanfearColl =
        survey::fitLanfearColl(MadeUpSurvey::kDiameter, depths, velocities);
    const survey::CurveFit stevens =
        survey::fitStevensSchutzbach(MadeUpSurvey::kDiameter, depths, velocities);
    ASSERT_TRUE(lanfearColl.valid && stevens.valid);
    EXPECT_TRUE(text.contains(QStringLiteral("Lanfear-Coll: C = %1 m^(1/3)/s, R² = %2, %3 points")
                                  .arg(survey::surveyNumber(lanfearColl.coefficient),
                                       survey::surveyNumber(lanfearColl.rSquared))
                                  .arg(depths.size())));
    EXPECT_TRUE(text.contains(QStringLiteral("Stevens-Schutzbach: C = %1 m^(1/3)/s, silt %2 mm")
                                  .arg(survey::surveyNumber(stevens.coefficient),
                                       survey::surveyNumber(stevens.offsetM * 1000))));

    // Each row of the CSV reads, cell after cell, on one line of the PDF.
    const std::vector<QStringList> daily =
        report::csvRows(survey::dailyTableCsv(input.summary, survey::FlowUnit::LitrePerSecond));
    const std::vector<QStringList> gaps =
        report::csvRows(survey::gapsCsv(input.summary, made.zone()));
    ASSERT_EQ(daily.size(), 2u + 10u);
    ASSERT_EQ(gaps.size(), 1u + 2u);
    for (const auto *table : {&daily, &gaps}) {
        for (size_t r = 0; r < table->size(); ++r) {
            QStringList cells = (*table)[r];
            cells.removeAll(QString());
            EXPECT_TRUE(text.contains(cells.join(u' '))) << cells.join(u' ').toStdString();
        }
    }
}

TEST(SurveyReport, aPeriodWithNoReadingsStillGivesEveryPartAndSaysTheDaysAreMissing)
{
    QTemporaryDir dir;
    MadeUpSurvey made;
    report::SurveyReportInput input = reportInput(made);
    input.fromUtcMs = made.at(20, 0);
    input.toUtcMs = made.at(22, 0);
    input.summary = survey::summarize(input.series, {input.fromUtcMs, input.toUtcMs});
    input.pattern = survey::dryWeatherPattern(input.series, input.summary);
    const QString path = dir.filePath(QStringLiteral("survey.pdf"));
    QString error;
    ASSERT_TRUE(report::writeSurveyPdf(input, path, &error)) << error.toStdString();
    const QStringList pages = pdfPages(path);
    ASSERT_EQ(pages.size(), 6);
    EXPECT_TRUE(pages[0].contains(QStringLiteral("Good 0, Partial 0, Missing 2")));
    EXPECT_TRUE(pages[2].contains(QStringLiteral("0 points with both a depth and a velocity")));
    EXPECT_TRUE(pages[4].contains(QStringLiteral("Missing days: 2026-03-22, 2026-03-23")));
}

TEST(SurveyReport, aReportThatCannotBeWrittenNamesTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("no-such-folder/survey.pdf"));
    QString error;
    EXPECT_FALSE(report::writeSurveyPdf(reportInput(MadeUpSurvey()), path, &error));
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
}

TEST(SurveyReport, theScattergraphPageTakesThePlaceOfAFileThereAndIsNotBlank)
{
    QTemporaryDir dir;
    QString error;
    const QString existing = dir.filePath(QStringLiteral("survey.png"));
    testing::writeFileBytes(existing, "old");
    ASSERT_TRUE(report::writeScattergraphPng(reportInput(MadeUpSurvey()), existing, &error));
    const QImage page(existing);
    ASSERT_FALSE(page.isNull());
    int ink = 0;
    for (int y = 0; y < page.height(); y += 4)
        for (int x = 0; x < page.width(); x += 4)
            ink += page.pixel(x, y) != qRgb(255, 255, 255);
    EXPECT_GT(ink, page.width() * page.height() / 16 / 50);
}

TEST(Scattergraph, pointsLandWhereTheirValuesSayAndNowhereElse)
{
    MadeUpSurvey made;
    made.withPipe = false; // no curves or lines of equal flow over the points
    made.days = 2;
    const survey::SurveySeries series = made.series();
    const ScattergraphModel model = scattergraphModel(series, made.at(0, 0), made.at(2, 0));
    ASSERT_EQ(model.points.size(), 192u);
    const ScatterRange range{0, 200, 0, 1};
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    paintScattergraph(painter, QRectF(image.rect()), model, range);
    const ScatterFrame frame = scatterFrame(QRectF(image.rect()), painter.font(), range);
    painter.end();

    // The deepest point (in mm and m/s, at its depth and velocity) and the shallowest.
    for (const QPointF &value : {model.points[56], model.points[8]}) {
        const QPoint at = frame.toPixel(value.x(), value.y()).toPoint();
        EXPECT_TRUE(bluish(image.pixel(at))) << value.x() << " " << value.y();
    }
    // Where no depth and velocity were logged together: a deep, slow corner, and above the deepest
    // point.
    const double deepest = model.points[56].x();
    for (const QPointF &value : {QPointF(190, 0.05), QPointF(deepest, 0.95)}) {
        const QPoint at = frame.toPixel(value.x(), value.y()).toPoint();
        EXPECT_FALSE(bluish(image.pixel(at))) << value.x() << " " << value.y();
        EXPECT_NE(image.pixel(at), qRgb(0, 0, 0)) << "the plot is painted over";
    }
}

TEST(Scattergraph, linesOfEqualFlowAreFourToSixRoundFlowsEachCrossingTheAxesShown)
{
    MadeUpSurvey made;
    made.days = 2;
    const ScattergraphModel model = scattergraphModel(made.series(), made.at(0, 0), made.at(2, 0));
    const ScatterRange ranges[] = {defaultScatterRange(model), {0, 100, 0, 0.5},
                                   {100, 600, 0.2, 1.2},       {0, 700, 0, 2.5},
                                   {40, 60, 0.25, 0.3},        {550, 900, 0, 1}};
    for (const ScatterRange &r : ranges) {
        SCOPED_TRACE(QStringLiteral("%1-%2 mm, %3-%4 m/s")
                         .arg(r.depthMin)
                         .arg(r.depthMax)
                         .arg(r.velocityMin)
                         .arg(r.velocityMax)
                         .toStdString());
        const std::vector<double> flows = isoFlowValues(model, r);
        ASSERT_GE(flows.size(), 4u);
        ASSERT_LE(flows.size(), 6u);
        const double step = flows[1] - flows[0];
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        EXPECT_TRUE(std::abs(mantissa - 1) < 1e-6 || std::abs(mantissa - 2) < 1e-6 ||
                    std::abs(mantissa - 2.5) < 1e-6 || std::abs(mantissa - 5) < 1e-6)
            << step;
        for (double q : flows) {
            EXPECT_NEAR(q / step, std::round(q / step), 1e-6);
            // V = Q / A(depth) is within the velocities shown somewhere between the depths shown.
            const double qM3s = q / 1000;
            const double full =
                survey::circularSection(MadeUpSurvey::kDiameter,
                                        std::min(r.depthMax / 1000, MadeUpSurvey::kDiameter))
                    .area;
            const double shallow =
                survey::circularSection(MadeUpSurvey::kDiameter, r.depthMin / 1000).area;
            EXPECT_LE(qM3s / full, r.velocityMax);
            EXPECT_TRUE(shallow == 0 || qM3s / shallow >= r.velocityMin) << q;
        }
    }
    MadeUpSurvey noPipe;
    noPipe.withPipe = false;
    EXPECT_TRUE(isoFlowValues(scattergraphModel(noPipe.series(), noPipe.at(0, 0), noPipe.at(1, 0)),
                              {0, 200, 0, 1})
                    .empty());
}

TEST(PlotAxes, marksFallOnRoundStepsInsideTheRangeAndNoMoreThanAsked)
{
    const struct {
        double min, max;
        int maxTicks;
        double step;
        std::vector<double> values;
    } rows[] = {
        {0, 1, 5, 0.2, {0, 0.2, 0.4, 0.6, 0.8, 1}},
        {0.13, 0.87, 4, 0.2, {0.2, 0.4, 0.6, 0.8}},
        {-3, 7, 5, 2, {-2, 0, 2, 4, 6}},
        {0, 700, 5, 200, {0, 200, 400, 600}}, // 100 would make 8 marks
        {0.3, 0.3, 5, 1, {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.min);
        const AxisTicks ticks = axisTicks(row.min, row.max, row.maxTicks);
        EXPECT_DOUBLE_EQ(ticks.step, row.step);
        ASSERT_EQ(ticks.values.size(), row.values.size());
        for (size_t i = 0; i < row.values.size(); ++i)
            EXPECT_NEAR(ticks.values[i], row.values[i], 1e-12);
    }
}

TEST(Hydrograph, aGapIsABreakInTheLineNeverBridged)
{
    MadeUpSurvey made;
    made.days = 1;
    made.missing = {{made.at(0, 8), made.at(0, 14)}};
    survey::SurveySeries series = made.series();
    // Instants logged for other channels alone: no depth from 16:00 to 18:00.
    for (size_t i = 0; i < series.size(); ++i)
        if (series.utcMs[i] >= made.at(0, 16) && series.utcMs[i] < made.at(0, 18))
            series.depth[i] = NAN;
    HydrographSpec spec;
    spec.color = QColor(0, 0, 255);
    spec.fromUtcMs = made.at(0, 0);
    spec.toUtcMs = made.at(1, 0);
    spec.zone = made.zone();
    spec.maxStepMs = 15 * 60 * 1000 * 3 / 2;
    QImage image(1000, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintHydrograph(painter, QRectF(image.rect()), spec, series.utcMs, series.depth);
    const QRectF plot = hydrographPlotRect(QRectF(image.rect()), painter.font());
    painter.end();

    const auto lineInColumn = [&](qint64 utcMs) {
        const int x = int(hydrographX(plot, spec, utcMs));
        for (int y = int(plot.top()) + 2; y < int(plot.bottom()) - 1; ++y)
            if (bluish(image.pixel(x, y)))
                return true;
        return false;
    };
    EXPECT_TRUE(lineInColumn(made.at(0, 4)));
    EXPECT_TRUE(lineInColumn(made.at(0, 20)));
    for (int hour : {9, 11, 13, 17})
        EXPECT_FALSE(lineInColumn(made.at(0, hour))) << hour;
}

TEST(CsvRows, readsQuotedFieldsWithCommasQuotesAndLineBreaks)
{
    const std::vector<QStringList> rows =
        report::csvRows("a,\"b, c\",\"say \"\"hi\"\"\"\r\n,\"two\nlines\",\r\nlast");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (QStringList{"a", "b, c", "say \"hi\""}));
    EXPECT_EQ(rows[1], (QStringList{"", "two\nlines", ""}));
    EXPECT_EQ(rows[2], (QStringList{"last"}));
}

} // namespace
} // namespace ostrand
