// The simulated survey meter's log: its depths and velocities on the pipe's Manning curve,
// its silt, storm, gaps and totals, checked against values worked out by hand.
#include "meter_setup.h"
#include "sim_options.h"
#include "survey_site.h"

#include <QMap>
#include <QSet>
#include <cmath>
#include <gtest/gtest.h>

using namespace ostrand::sim;

namespace {

const QDateTime kNow(QDate(2026, 12, 6), QTime(14, 7, 30), Qt::UTC);
QDateTime at(int mo, int d, int h, int mi)
{
    return QDateTime(QDate(2026, mo, d), QTime(h, mi), Qt::UTC);
}

// The survey log `extra` describes over two weeks of 15-minute instants from Monday
// 2026-03-02, as the meter would hold it: instant -> the four channels' values.
struct SurveyLogOf {
    explicit SurveyLogOf(const QStringList &extra, int records = 1344)
    {
        const QStringList arguments = QStringList{"--survey", "--records", QString::number(records),
                                                  "--start", "2026-03-02 00:00"} +
                                      extra;
        QString error;
        EXPECT_TRUE(parseOptions(arguments, &options, &error)) << error.toStdString();
        MeterContents contents;
        EXPECT_TRUE(makeContents(options, kNow, &contents, &error)) << error.toStdString();
        for (const LogRecord &record : contents.records) {
            EXPECT_EQ(double(float(record.value)), record.value) << "not a meter float";
            byInstant[record.stamp].resize(4);
            byInstant[record.stamp][record.channel - 1] = record.value;
        }
    }
    SimOptions options;
    QMap<QDateTime, QVector<double>> byInstant;
};

double manning(double diameter, double depth, double silt)
{
    return survey_pipe::velocity(diameter, depth, silt, 0.002, 0.013);
}

} // namespace

// Velocities worked out by hand from the segment's area and wetted perimeter.
TEST(SurveySite, ManningVelocityOfAPartFullPipeMatchesHandWorkedValues)
{
    struct Row {
        double diameter, depth, silt, velocity, area;
    } rows[] = {
        {0.6, 0.6, 0.0, 0.97118, 0.28274},  // full: R = D/4
        {0.6, 0.9, 0.0, 0.97118, 0.28274},  // above the crown is full
        {0.6, 0.3, 0.0, 0.97118, 0.14137},  // half full: R = D/4 as well
        {0.6, 0.15, 0.0, 0.68048, 0.05528}, // a quarter: theta = 120 degrees
        {0.6, 0.3, 0.1, 0.85881, 0.11040},  // 100 mm of silt: less area, the bed in the perimeter
        {0.3, 0.1, 0.05, 0.38763, 0.01288},
        {0.6, 0.1, 0.1, 0.0, 0.0}, // water no higher than the silt does not flow
    };
    for (const Row &row : rows) {
        EXPECT_NEAR(manning(row.diameter, row.depth, row.silt), row.velocity, 5e-5) << row.depth;
        EXPECT_NEAR(survey_pipe::wetted(row.diameter, row.depth, row.silt).area, row.area, 5e-5);
    }
}

TEST(SurveySite, NoiseFreeReadingsLieOnTheSiltedPipesCurveWithinTheDryWeatherRange)
{
    const SurveyLogOf log({"--survey-noise", "0", "--survey-silt", "100"});
    ASSERT_EQ(log.byInstant.size(), 1344);
    double lowest = 1e9, highest = 0, weekendHighest = 0;
    for (auto it = log.byInstant.begin(); it != log.byInstant.end(); ++it) {
        const double depth = it.value()[0] / 1000;
        EXPECT_NEAR(it.value()[1], manning(0.6, depth, 0.1), 1e-3)
            << it.key().toString().toStdString();
        const double area = survey_pipe::wetted(0.6, depth, 0.1).area;
        EXPECT_NEAR(it.value()[2], it.value()[1] * area * 1000, 0.01);
        const double fraction = (depth - 0.1) / 0.5;
        lowest = std::min(lowest, fraction);
        highest = std::max(highest, fraction);
        if (it.key().date().dayOfWeek() >= 6 && it.key().time().hour() >= 6)
            weekendHighest = std::max(weekendHighest, fraction);
        if (it.key().time() == QTime(4, 0))
            EXPECT_NEAR(fraction, 0.15, 0.005) << "the night's low";
    }
    EXPECT_NEAR(lowest, 0.15, 0.001);
    EXPECT_NEAR(highest, 0.45, 0.001);
    EXPECT_LT(weekendHighest, 0.40);
}

TEST(SurveySite, GapsLeaveOutExactlyTheInstantsNamed)
{
    const SurveyLogOf log({"--survey-gaps", "2026-03-05T10:00/60,2026-03-09T23:50/20",
                           "--survey-gaps", "2026-03-12T00:00/15"});
    const QSet<QDateTime> gone{at(3, 5, 10, 0),  at(3, 5, 10, 15), at(3, 5, 10, 30),
                               at(3, 5, 10, 45), at(3, 10, 0, 0),  at(3, 12, 0, 0)};
    for (int i = 0; i < 1344; ++i) {
        const QDateTime t = at(3, 2, 0, 0).addSecs(900 * i);
        EXPECT_EQ(log.byInstant.contains(t), !gone.contains(t)) << t.toString().toStdString();
    }
}

TEST(SurveySite, AStormRisesToItsPeakHalfWayAndFallsBack)
{
    const SurveyLogOf log({"--survey-noise", "0", "--survey-storm", "2026-03-10T14:00/6"});
    EXPECT_NEAR(log.byInstant[at(3, 10, 17, 0)][0], 570.0, 0.1); // 95 % of 600 mm
    const SurveyLogOf dry({"--survey-noise", "0"});
    for (const QDateTime &t : {at(3, 10, 14, 0), at(3, 10, 20, 0)})
        EXPECT_EQ(log.byInstant[t][0], dry.byInstant[t][0]) << "outside the storm";
    EXPECT_GT(log.byInstant[at(3, 10, 15, 0)][0], dry.byInstant[at(3, 10, 15, 0)][0] + 100);
}

// Each day's rise of the total against the day's flow x interval, noise and a gap included:
// the totalizer counts through the gap, so only that day's volumes part.
TEST(SurveySite, TheTotalRisesByTheFlowOfEachIntervalAndCountsThroughGaps)
{
    const SurveyLogOf log({"--survey-gaps", "2026-03-05T10:00/120"});
    const SurveyLogOf whole({});
    EXPECT_EQ(log.byInstant.first()[3], 0.0);
    for (int day = 3; day <= 15; ++day) {
        double volume = 0;
        for (auto it = whole.byInstant.lowerBound(at(3, day, 0, 0));
             it != whole.byInstant.end() && it.key() < at(3, day + 1, 0, 0); ++it)
            volume += it.value()[2] * 900 / 1000;
        const double rise =
            log.byInstant[at(3, day, 23, 45)][3] - log.byInstant[at(3, day - 1, 23, 45)][3];
        EXPECT_NEAR(rise, volume, 0.01 * volume) << day;
    }
}

TEST(SurveySite, NoiseIsBoundedRepeatableAndEachMetersOwn)
{
    const SurveyLogOf noisy({"--survey-noise", "0.05"});
    const SurveyLogOf again({"--survey-noise", "0.05"});
    const SurveyLogOf meter2({"--survey-noise", "0.05", "--meter-number", "2"});
    const SurveyLogOf clean({"--survey-noise", "0"});
    int differing = 0;
    for (auto it = noisy.byInstant.begin(); it != noisy.byInstant.end(); ++it) {
        EXPECT_EQ(it.value(), again.byInstant[it.key()]);
        EXPECT_NEAR(it.value()[0] / clean.byInstant[it.key()][0], 1.0, 0.0501);
        differing += it.value() != meter2.byInstant[it.key()];
    }
    EXPECT_GT(differing, 1300);
}

// A log longer than the log memory keeps its newest instants, their totals still counted
// from the log's first instant.
TEST(SurveySite, ALogPastTheMemoryKeepsTheNewestInstantsAndTheirTotals)
{
    const SurveyLogOf log({"--survey-noise", "0"}, 9000);
    const QDateTime last = at(3, 2, 0, 0).addSecs(900 * 8999);
    EXPECT_EQ(log.byInstant.lastKey(), last);
    MeterContents contents;
    QString error;
    ASSERT_TRUE(makeContents(log.options, kNow, &contents, &error));
    EXPECT_EQ(makeMeter(log.options, contents, kNow)->log().recordCount(), 32736);

    const SurveyLog site(log.options.survey, at(3, 2, 0, 0), 15, 1);
    double volume = 0;
    for (int i = 1; i < 9000; ++i)
        volume += site.measured(at(3, 2, 0, 0).addSecs(900 * i)).flowLps * 0.9;
    EXPECT_NEAR(log.byInstant[last][3], volume, 0.1);
}

TEST(SurveySite, OptionsThatMakeNoSenseAreRefused)
{
    const QList<QStringList> rows{
        {"--survey-silt", "50"},
        {"--survey", "--labels", "A,B"},
        {"--survey", "--survey-silt", "400"},
        {"--survey", "--survey-slope", "0"},
        {"--survey", "--survey-storm", "2026-03-10 14:00"},
        {"--survey", "--survey-gaps", "2026-03-10T14:00/-5"},
        {"--survey", "--survey-gaps", "10:00/5"},
    };
    for (const QStringList &row : rows) {
        SimOptions options;
        QString error;
        EXPECT_FALSE(parseOptions(row, &options, &error)) << row.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}
