// The survey checks against values worked out by hand: the circular segment
// (theta = 2 acos(1 - 2y/D), A = r^2 (theta - sin theta) / 2, P = r theta) at
// the quarter points of a 600 mm pipe, and days on the Europe/London clock
// changes counted step by step.
#include "survey/daily_summary.h"
#include "survey/pipe_curves.h"
#include "survey/survey_series.h"
#include "survey/survey_tables.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ostrand::survey;

namespace {

constexpr double kD = 0.6, kSlope = 0.002, kN = 0.013;
constexpr qint64 kQuarterHourMs = 15 * 60 * 1000;

qint64 utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toMSecsSinceEpoch();
}

// A series of flow (l/s) and totalizer (m3) readings; NaN leaves a value unlogged.
struct SeriesBuilder {
    SurveySeries series;
    explicit SeriesBuilder(const char *zone)
    {
        series.zone = QTimeZone(zone);
        series.roles.flow = 1;
        series.roles.total = 2;
    }
    void add(qint64 ms, double litresPerSecond, double total = NAN)
    {
        series.utcMs.push_back(ms);
        series.depth.push_back(NAN);
        series.velocity.push_back(NAN);
        series.flow.push_back(litresPerSecond / 1000);
        series.total.push_back(total);
    }
};

} // namespace

struct ManningRow {
    double depth, area, radius, velocity, flow;
};

TEST(PipeCurves, manningGivesTheHandWorkedVelocityAndFlowAtTheQuarterPointsOfA600mmPipe)
{
    const ManningRow rows[] = {
        // quarter: theta = 2 pi / 3
        {0.15, 0.0552766364, 0.0879754993, 0.6804759892, 0.0376144239},
        // half: R = D / 4
        {0.30, 0.1413716694, 0.15, 0.9711787061, 0.1372971550},
        // three quarters: theta = 4 pi / 3
        {0.45, 0.2274667024, 0.1810122504, 1.1008047391, 0.2503964240},
        // full, and a surcharged depth above the crown is full too
        {0.60, 0.2827433388, 0.15, 0.9711787061, 0.2745943100},
        {0.90, 0.2827433388, 0.15, 0.9711787061, 0.2745943100},
    };
    for (const ManningRow &row : rows) {
        SCOPED_TRACE(row.depth);
        const Section section = circularSection(kD, row.depth);
        EXPECT_NEAR(section.area, row.area, 1e-9);
        EXPECT_NEAR(section.hydraulicRadius(), row.radius, 1e-9);
        EXPECT_NEAR(manningVelocity(kD, row.depth, kSlope, kN), row.velocity, 1e-9);
        EXPECT_NEAR(manningFlow(kD, row.depth, kSlope, kN), row.flow, 1e-9);
    }
    EXPECT_EQ(manningFlow(kD, 0, kSlope, kN), 0);
}

TEST(PipeCurves, aSiltBedTakesItsSegmentFromTheAreaAndAddsItsSurfaceToTheWettedPerimeter)
{
    // Half full over a quarter-depth bed: A(half) - A(quarter); the arc from
    // theta 2pi/3 to pi, plus the chord 2 sqrt(s (D - s)).
    const Section section = circularSection(kD, 0.30, 0.15);
    EXPECT_NEAR(section.area, 0.1413716694 - 0.0552766364, 1e-9);
    EXPECT_NEAR(section.wettedPerimeter, 0.3 * M_PI / 3 + 2 * std::sqrt(0.15 * 0.45), 1e-9);
    EXPECT_EQ(circularSection(kD, 0.10, 0.15).area, 0);
}

namespace {

// Velocities a curve V = C R^(2/3) gives over a bed `silt` deep, at depths from just above it to 90
// % full.
void curveData(double coefficient, double silt, std::vector<double> &depths,
               std::vector<double> &velocities)
{
    for (double y = silt + 0.01; y <= 0.54; y += 0.0125) {
        depths.push_back(y);
        velocities.push_back(coefficient *
                             std::pow(circularSection(kD, y, silt).hydraulicRadius(), 2.0 / 3));
    }
}

} // namespace

TEST(PipeCurves, bothFitsGiveBackTheCoefficientOfACleanPipe)
{
    std::vector<double> depths, velocities;
    curveData(3.44, 0, depths, velocities);
    const CurveFit lanfear = fitLanfearColl(kD, depths, velocities);
    ASSERT_TRUE(lanfear.valid);
    EXPECT_NEAR(lanfear.coefficient, 3.44, 1e-9);
    EXPECT_NEAR(lanfear.rSquared, 1, 1e-9);
    EXPECT_EQ(lanfear.points, int(depths.size()));
    const CurveFit stevens = fitStevensSchutzbach(kD, depths, velocities);
    ASSERT_TRUE(stevens.valid);
    EXPECT_NEAR(stevens.offsetM, 0, 0.0005);
    EXPECT_NEAR(stevens.coefficient, 3.44, 3.44 * 0.005);
    EXPECT_NEAR(stevens.rSquared, 1, 1e-6);
}

TEST(PipeCurves, stevensSchutzbachFindsA50mmSiltBedThatLanfearCollCannotFit)
{
    std::vector<double> depths, velocities;
    curveData(2.9, 0.05, depths, velocities);
    const CurveFit stevens = fitStevensSchutzbach(kD, depths, velocities);
    ASSERT_TRUE(stevens.valid);
    EXPECT_NEAR(stevens.offsetM, 0.05, 0.0005);
    EXPECT_NEAR(stevens.coefficient, 2.9, 2.9 * 0.005);
    EXPECT_NEAR(stevens.rSquared, 1, 1e-6);
    EXPECT_NEAR(stevens.velocityAt(kD, depths[20]), velocities[20], 1e-4);
    const CurveFit lanfear = fitLanfearColl(kD, depths, velocities);
    ASSERT_TRUE(lanfear.valid);
    EXPECT_LT(lanfear.rSquared, stevens.rSquared - 0.01);
}

TEST(PipeCurves, aFitWithoutUsablePointsIsNotValid)
{
    EXPECT_FALSE(fitLanfearColl(kD, {0.2}, {0.5}).valid);
    EXPECT_FALSE(fitLanfearColl(kD, {0, 0, 0}, {0.1, 0.2, 0.3}).valid);
    EXPECT_FALSE(fitStevensSchutzbach(kD, {0.2, NAN, 0.3}, {0.5, 0.6, NAN}).valid);
}

TEST(SurveySetup, rolesComeFromTheLabelsWordsAndAChannelPlaysOneRole)
{
    struct Row {
        std::array<QString, 8> labels;
        ChannelRoles given, expected;
    };
    const Row rows[] = {
        {{"Level (mm)", "Velocity (m/s)", "Flow (l/s)", "Flow Tot"}, {}, {1, 2, 3, 4}},
        {{"Flow Tot", "Vel", "Depth", "Flow"}, {}, {3, 2, 4, 1}},
        // "Level" holds "vel" but is no velocity
        {{"Level"}, {}, {1, 0, 0, 0}},
        {{"Level", "Water Depth", "Flow"}, {2, 0, 0, 0}, {2, 0, 3, 0}},
        // a channel the user gave a role keeps it
        {{"Flow", "Flow"}, {0, 0, 0, 1}, {0, 0, 2, 1}},
        {{"", "Totalizer"}, {}, {0, 0, 0, 2}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.labels[0].toStdString());
        const ChannelRoles roles = rolesFor(row.labels, row.given);
        EXPECT_EQ(roles.depth, row.expected.depth);
        EXPECT_EQ(roles.velocity, row.expected.velocity);
        EXPECT_EQ(roles.flow, row.expected.flow);
        EXPECT_EQ(roles.total, row.expected.total);
    }
}

TEST(SurveySetup, aUnitIsOneTheUserGaveForTheRoleOrOneInTheLabelsParentheses)
{
    EXPECT_EQ(unitInParentheses("Flow (GPM)"), "GPM");
    EXPECT_EQ(unitInParentheses("Level(in) "), "in");
    EXPECT_EQ(unitInParentheses("Flow Tot"), "");
    EXPECT_EQ(unitInParentheses("Flow"), "");

    SurveySetup setup;
    setup.flowUnit = FlowUnit::Gpm;
    setup.flowUnitGiven = true;
    setup.depthUnit = DepthUnit::Inch; // not given: the label's parentheses still speak
    const ChannelRoles roles{1, 0, 2, 3};
    EXPECT_EQ(storedUnit(setup, roles, 2, "Flow (l/s)"), "gpm");
    EXPECT_EQ(storedUnit(setup, roles, 1, "Level (mm)"), "mm");
    EXPECT_EQ(storedUnit(setup, roles, 1, "Level"), "");
    EXPECT_EQ(storedUnit(setup, roles, 3, "Flow Tot"), "");

    const SurveySetup labelled =
        withLabelUnits(setup, roles, {"Level (ft)", "Flow (m3/h)", "Total (GAL)"});
    EXPECT_EQ(labelled.depthUnit, DepthUnit::Foot);
    EXPECT_EQ(labelled.flowUnit, FlowUnit::Gpm);
    EXPECT_EQ(labelled.totalUnit, TotalUnit::Gallon);
}

TEST(SurveyUnits, lengthsTakeANumberAboveZeroAndAUnit)
{
    struct Row {
        const char *text;
        double metres; // 0: refused
    };
    const Row rows[] = {{"600 mm", 0.6}, {"0.6m", 0.6}, {"24 in", 0.6096}, {"2 ft", 0.6096},
                        {"1.5 M", 1.5},  {"0 mm", 0},   {"-600 mm", 0},    {"nan mm", 0},
                        {"600", 0},      {"600 yd", 0}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        QString problem;
        const std::optional<double> metres = lengthInMetres(row.text, &problem);
        if (row.metres > 0) {
            ASSERT_TRUE(metres);
            EXPECT_NEAR(*metres, row.metres, 1e-12);
        } else {
            EXPECT_FALSE(metres);
            EXPECT_FALSE(problem.isEmpty());
        }
    }
    EXPECT_NEAR(toCubicMetresPerSecond(FlowUnit::Mgd), 0.0438126364, 1e-9);
    EXPECT_NEAR(toCubicMetresPerSecond(FlowUnit::Cfs), 0.0283168466, 1e-9);
    EXPECT_EQ(flowUnitNamed("mgd"), FlowUnit::Mgd);
}

TEST(SurveySetup, surveyKeysRefuseValuesOutsideTheirRange)
{
    struct Row {
        const char *key, *value;
        KeyTaken taken;
    };
    const Row rows[] = {
        {"depth-channel", "8", KeyTaken::Taken},  {"depth-channel", "9", KeyTaken::Refused},
        {"flow-unit", "MGD", KeyTaken::Taken},    {"flow-unit", "gal", KeyTaken::Refused},
        {"pipe-slope", "0.002", KeyTaken::Taken}, {"pipe-slope", "2", KeyTaken::Refused},
        {"manning-n", "0", KeyTaken::Refused},    {"pipe-diameter", "24 in", KeyTaken::Taken},
        {"port", "COM1", KeyTaken::NotASurveyKey}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.key + std::string(" ") + row.value);
        SurveySetup setup;
        QString problem;
        EXPECT_EQ(takeSurveyKey(setup, row.key, row.value, &problem), row.taken);
        EXPECT_EQ(problem.isEmpty(), row.taken != KeyTaken::Refused);
    }
}

TEST(SurveySeries, readingsBecomeSiValuesAndFlowComesFromTheSectionWithoutAFlowChannel)
{
    auto reading = [](const char *station, int channel, const char *label, const char *time,
                      double value) {
        ostrand::collect::StoredReading r;
        r.station = station;
        r.channel = channel;
        r.label = label;
        r.timeUtc = QDateTime::fromString(QString::fromLatin1(time), Qt::ISODate);
        r.value = value;
        return r;
    };
    // Out of order, with another station's reading and a 5-minute step among 1-minute ones.
    const std::vector<ostrand::collect::StoredReading> readings{
        reading("A", 2, "Velocity (ft/s)", "2026-01-01T00:01:00Z", 2),
        reading("A", 1, "Level", "2026-01-01T00:01:00Z", 300),
        reading("A", 1, "Level", "2026-01-01T00:00:00Z", 150),
        reading("B", 1, "Level", "2026-01-01T00:03:00Z", 999),
        reading("A", 1, "Level", "2026-01-01T00:02:00Z", 150),
        reading("A", 1, "Level", "2026-01-01T00:07:00Z", 150)};
    SurveySetup setup;
    setup.pipe.diameterM = kD;
    const SurveySeries series =
        seriesFromReadings(readings, "A", setup, QTimeZone("Europe/London"));
    ASSERT_EQ(series.size(), 4u);
    EXPECT_EQ(series.roles, (ChannelRoles{1, 2, 0, 0}));
    EXPECT_TRUE(series.flowFromSection);
    EXPECT_EQ(series.setup.velocityUnit, VelocityUnit::FootPerSecond);
    EXPECT_NEAR(series.depth[1], 0.3, 1e-12);
    EXPECT_NEAR(series.velocity[1], 0.6096, 1e-12);
    EXPECT_NEAR(series.flow[1], 0.6096 * 0.1413716694, 1e-9);
    EXPECT_TRUE(std::isnan(series.flow[0]));
    EXPECT_EQ(logIntervalSeconds(series.utcMs), 60);
    EXPECT_EQ(logIntervalSeconds({0, 60000, 360000}), 60); // a tie takes the smaller
    EXPECT_EQ(logIntervalSeconds({0}), 0);
}

namespace {

// 2026-03-29 in London: 00:00 GMT to 00:00 BST is 23 hours, 92 quarter hours.
// Flow 20 l/s but for: 01:00-01:45Z missing (local 02:xx), 5 l/s in
// 02:00-02:45Z, 1, 9, 9, 9 in 03:00-03:45Z (an hourly mean of 7), 3 l/s in
// 05:00-05:45Z (local 06:xx, after the night). A totalizer reading at
// 23:45Z the day before and at every reading of the day.
SurveySeries springForward()
{
    SeriesBuilder b("Europe/London");
    double total = 5000;
    b.add(utc("2026-03-28T23:45:00Z"), 20, total);
    for (int k = 0; k < 92; ++k) {
        const int hour = k / 4;
        if (hour == 1)
            continue;
        const double q = hour == 2 ? 5 : hour == 3 ? (k % 4 == 0 ? 1 : 9) : hour == 5 ? 3 : 20;
        total += q * 0.9; // m3 in 15 minutes at q l/s
        b.add(utc("2026-03-29T00:00:00Z") + k * kQuarterHourMs, q, total);
    }
    return b.series;
}

// 2026-10-25 in London: 00:00 BST (23:00Z the day before) to 00:00 GMT is 25
// hours, 100 quarter hours. 10 l/s but 6 l/s in the first 01:xx (BST) and
// 2 l/s in the second (GMT); the last four steps missing; the totalizer at
// the first reading (2000 m3) and the last (2850 m3).
SurveySeries fallBack()
{
    SeriesBuilder b("Europe/London");
    for (int k = 0; k < 96; ++k) {
        const int hour = k / 4;
        const double q = hour == 1 ? 6 : hour == 2 ? 2 : 10;
        b.add(utc("2026-10-24T23:00:00Z") + k * kQuarterHourMs, q,
              k == 0    ? 2000
              : k == 95 ? 2850
                        : NAN);
    }
    return b.series;
}

} // namespace

TEST(DailySummary, aSpringForwardDayHas92QuarterHoursAndItsNightHoursAreTheClocks)
{
    const SurveySummary summary =
        summarize(springForward(), {utc("2026-03-29T00:00:00Z"), utc("2026-03-29T23:00:00Z")});
    EXPECT_EQ(summary.intervalSeconds, 900);
    ASSERT_EQ(summary.days.size(), 1u);
    const DaySummary &day = summary.days[0];
    EXPECT_EQ(day.date, QDate(2026, 3, 29));
    EXPECT_EQ(day.startUtcMs, utc("2026-03-29T00:00:00Z"));
    EXPECT_EQ(day.endUtcMs, utc("2026-03-29T23:00:00Z"));
    EXPECT_EQ(day.expected, 92);
    EXPECT_EQ(day.readings, 88);
    // 80 readings at 20 l/s, 4 at 5, 1 + 9 + 9 + 9, 4 at 3: 1580 l/s x 900 s
    EXPECT_NEAR(day.volume, 1422, 1e-9);
    ASSERT_TRUE(day.volumeFromTotal);
    EXPECT_NEAR(*day.volumeFromTotal, 1422, 1e-9);
    EXPECT_FALSE(day.volumesDisagree);
    EXPECT_NEAR(day.minFlow, 0.001, 1e-12);
    EXPECT_NEAR(day.meanFlow, 1.580 / 88, 1e-12);
    EXPECT_NEAR(day.maxFlow, 0.020, 1e-12);
    EXPECT_NEAR(day.minNightFlow, 0.005, 1e-12);
    EXPECT_NEAR(day.completeness, 88.0 / 92, 1e-12);
    EXPECT_EQ(day.quality, DayQuality::Good);
    EXPECT_EQ(
        gapsCsv(summary, QTimeZone("Europe/London")),
        "Start,End,Missing intervals\r\n2026-03-29T02:00:00+01:00,2026-03-29T02:45:00+01:00,4\r\n");
}

TEST(DailySummary, withoutAPeriodTheFirstAndLastDaysAreWholeButNoGapIsMadeBeforeTheLog)
{
    const SurveySummary summary = summarize(springForward());
    ASSERT_EQ(summary.days.size(), 2u);
    const DaySummary &eve = summary.days[0];
    EXPECT_EQ(eve.date, QDate(2026, 3, 28));
    EXPECT_EQ(eve.expected, 96);
    EXPECT_EQ(eve.readings, 1);
    EXPECT_EQ(eve.quality, DayQuality::Partial);
    EXPECT_NEAR(eve.volume, 18, 1e-9);
    // No totalizer reading before: the day's first is its start, so it rose by nothing.
    ASSERT_TRUE(eve.volumeFromTotal);
    EXPECT_NEAR(*eve.volumeFromTotal, 0, 1e-9);
    EXPECT_TRUE(eve.volumesDisagree);
    EXPECT_EQ(summary.days[1].expected, 92);
    EXPECT_EQ(summary.gaps.size(), 1u);
}

TEST(DailySummary, anAutumnDayHas100QuarterHoursAndItsRepeatedHourIsAnHourOfItsOwn)
{
    const SurveySummary summary =
        summarize(fallBack(), {utc("2026-10-24T23:00:00Z"), utc("2026-10-26T00:00:00Z")});
    ASSERT_EQ(summary.days.size(), 1u);
    EXPECT_TRUE(summary.days[0].volumesDisagree); // 3.6 % apart
    // The missing end of the period is a gap.
    EXPECT_EQ(
        gapsCsv(summary, QTimeZone("Europe/London")),
        "Start,End,Missing intervals\r\n2026-10-25T23:00:00+00:00,2026-10-25T23:45:00+00:00,4\r\n");
    // 88 x 10 + 4 x 6 + 4 x 2 = 912 l/s over 900 s is 820.8 m3; the two 01:xx hours averaged
    // together would make the least night flow 4 l/s, not 2.
    EXPECT_EQ(dailyTableCsv(summary, FlowUnit::LitrePerSecond),
              "Date,Volume,Volume from total,Min flow,Mean flow,Max flow,Min night "
              "flow,Readings,Expected,"
              "Completeness,Quality\r\n"
              ",m3,m3,l/s,l/s,l/s,l/s,,,%,\r\n"
              "2026-10-25,820.8,850,2,9.5,10,2,96,100,96,Good\r\n");
}

TEST(DailySummary, aPeriodWithNoReadingIsAMissingDayAndOneGap)
{
    const SurveySummary summary =
        summarize(fallBack(), {utc("2026-11-02T00:00:00Z"), utc("2026-11-03T00:00:00Z")});
    ASSERT_EQ(summary.days.size(), 1u);
    EXPECT_EQ(summary.days[0].quality, DayQuality::Missing);
    EXPECT_EQ(summary.days[0].expected, 96);
    ASSERT_EQ(summary.gaps.size(), 1u);
    EXPECT_EQ(summary.gaps[0].missingIntervals, 96);
}

TEST(DailySummary, theDryWeatherPatternIsTheMeanByLocalHourOfWeekdaysAndOfTheWeekend)
{
    // A week in June (BST): hourly flow at local hour h of 10 + h on Monday,
    // 20 + h on Tuesday, 50 + h on Saturday, 70 + h on Sunday; Wednesday to
    // Friday only their first twelve hours, at 500.
    SeriesBuilder b("Europe/London");
    const int base[] = {10, 20, 500, 500, 500, 50, 70};
    for (int d = 0; d < 7; ++d)
        for (int h = 0; h < 24; ++h)
            if (base[d] != 500 || h < 12)
                b.add(utc("2026-05-31T23:00:00Z") + (d * 24 + h) * 3600000LL, base[d] + h);
    const SurveySummary summary = summarize(b.series);
    ASSERT_EQ(summary.days.size(), 7u);
    EXPECT_EQ(summary.days[2].quality, DayQuality::Partial);

    const DiurnalPattern dry = dryWeatherPattern(
        b.series, summary,
        {QDate(2026, 6, 1), QDate(2026, 6, 2), QDate(2026, 6, 6), QDate(2026, 6, 7)});
    const DiurnalPattern good = dryWeatherPattern(b.series, summary);
    for (const DiurnalPattern &pattern : {dry, good}) {
        ASSERT_EQ(pattern.days.size(), 4u);
        for (int h = 0; h < 24; ++h) {
            EXPECT_NEAR(pattern.weekday[h], (15 + h) / 1000.0, 1e-12) << h;
            EXPECT_NEAR(pattern.weekend[h], (60 + h) / 1000.0, 1e-12) << h;
        }
    }
    const QByteArray csv = diurnalCsv(dry, FlowUnit::LitrePerSecond);
    EXPECT_TRUE(
        csv.startsWith("Hour,Weekday mean,Weekend mean\r\n,l/s,l/s\r\n0,15,60\r\n1,16,61\r\n"));
    EXPECT_TRUE(csv.endsWith("\r\n23,38,83\r\n"));
}

TEST(SurveyTables, theDailyTableGivesVolumesInGallonsForGpmAndLeavesWhatIsUnknownEmpty)
{
    SurveySummary summary;
    DaySummary day;
    day.date = QDate(2026, 1, 5);
    day.volume = 3.785411784;                                // 1000 US gallons
    day.minFlow = day.meanFlow = day.maxFlow = 0.0630901964; // 1000 gpm
    day.minNightFlow = NAN;
    day.readings = 1;
    day.expected = 3;
    day.completeness = 1.0 / 3;
    day.quality = DayQuality::Partial;
    summary.days.push_back(day);
    EXPECT_EQ(dailyTableCsv(summary, FlowUnit::Gpm).split('\n').mid(1),
              QList<QByteArray>({",gal,gal,gpm,gpm,gpm,gpm,,,%,\r",
                                 "2026-01-05,1000,,1000,1000,1000,,1,3,33.3333,Partial\r", ""}));
    EXPECT_TRUE(dailyTableCsv(summary, FlowUnit::Cfs).contains(",ft3,ft3,cfs,"));
}

TEST(SurveyTables, numbersReadTheSameEverywhere)
{
    const std::pair<double, const char *> rows[] = {{0.9711787, "0.9712"},
                                                    {1422, "1422"},
                                                    {17.954545, "17.9545"},
                                                    {0.0003125, "0.0003125"},
                                                    {-0.00000001, "-0.00000001"},
                                                    {NAN, ""},
                                                    {-2.5, "-2.5"}};
    for (const auto &[value, text] : rows)
        EXPECT_EQ(surveyNumber(value), text) << value;
}
