// A year of 15-minute survey readings (35,040 instants: depth, velocity, flow
// and total of a 600 mm pipe, London time through both clock changes) made up
// in memory: the scattergraph drawn off-screen, the daily summary, and the
// year's PDF report written. Run by hand:
//   BUILD/bench/survey_bench [repeats]

#include "chart/scattergraph_plot.h"
#include "report/survey_report.h"
#include "survey/daily_summary.h"
#include "survey/pipe_curves.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace ostrand;

namespace {

constexpr int kInstants = 365 * 96;
constexpr double kDiameter = 0.6, kSlope = 0.002, kManningN = 0.013;

survey::SurveySeries makeYear()
{
    survey::SurveySeries series;
    series.zone = QTimeZone("Europe/London");
    series.roles = {1, 2, 3, 4};
    series.setup.roles = series.roles;
    series.setup.pipe = {kDiameter, kSlope, kManningN};
    series.labels = {QStringLiteral("Depth"), QStringLiteral("Velocity"), QStringLiteral("Flow"),
                     QStringLiteral("Flow Tot")};
    const qint64 start = QDateTime(QDate(2026, 1, 1), QTime(0, 0), series.zone).toMSecsSinceEpoch();
    double total = 0;
    for (int i = 0; i < kInstants; ++i) {
        const double hour = std::fmod(i / 4.0, 24.0);
        // A daily swing, a slow seasonal one and some noise that repeats.
        const double depth = 0.12 + 0.08 * std::sin((hour - 6) / 24 * 2 * M_PI) +
                             0.05 * std::sin(i / 3000.0) + 0.004 * std::sin(i * 12.9898);
        const double velocity = survey::manningVelocity(kDiameter, depth, kSlope, kManningN) *
                                (1 + 0.03 * std::sin(i * 78.233));
        const double flow = velocity * survey::circularSection(kDiameter, depth).area;
        total += flow * 900;
        series.utcMs.push_back(start + qint64(i) * 900000);
        series.depth.push_back(depth);
        series.velocity.push_back(velocity);
        series.flow.push_back(flow);
        series.total.push_back(total);
    }
    return series;
}

double bestMs(int repeats, const std::function<void()> &run)
{
    double best = 1e12;
    for (int r = 0; r < repeats; ++r) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

void printMeasured(const char *what, double ms, double goalMs)
{
    std::printf("%-34s %9.1f ms  (goal under %.0f ms: %s)\n", what, ms, goalMs,
                ms < goalMs ? "met" : "MISSED");
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const survey::SurveySeries series = makeYear();
    const qint64 from = series.utcMs.front(), to = series.utcMs.back() + 1;
    std::printf("%zu instants, best of %d runs\n", series.size(), repeats);

    ScattergraphModel model;
    const double modelMs = bestMs(repeats, [&] { model = scattergraphModel(series, from, to); });
    std::printf("%-34s %9.1f ms  (points, both fits and the curves, once per date range)\n",
                "scattergraph model", modelMs);
    const ScatterRange range = defaultScatterRange(model);
    QImage image(1600, 1130, QImage::Format_RGB32);
    const double drawMs = bestMs(repeats, [&] {
        QPainter painter(&image);
        paintScattergraph(painter, QRectF(image.rect()), model, range);
    });
    printMeasured("scattergraph drawn (1600x1130)", drawMs, 100);

    survey::SurveySummary summary;
    const double summaryMs = bestMs(repeats, [&] { summary = survey::summarize(series); });
    printMeasured("daily summary of the year", summaryMs, 200);
    std::printf("%-34s %zu days, %zu gaps, interval %d s\n", "", summary.days.size(),
                summary.gaps.size(), summary.intervalSeconds);

    report::SurveyReportInput input;
    input.station = QStringLiteral("trunk-12");
    input.series = series;
    input.fromUtcMs = from;
    input.toUtcMs = to;
    input.summary = summary;
    input.pattern = survey::dryWeatherPattern(series, summary);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("survey.pdf"));
    QString error;
    bool written = true;
    const double pdfMs = bestMs(std::min(repeats, 3), [&] {
        written = written && report::writeSurveyPdf(input, path, &error);
    });
    if (!written) {
        std::printf("the report was not written: %s\n", qPrintable(error));
        return 1;
    }
    printMeasured("year's PDF report written", pdfMs, 5000);
    std::printf("%-34s %9.1f MB\n", "PDF size", QFile(path).size() / 1e6);
    return 0;
}
