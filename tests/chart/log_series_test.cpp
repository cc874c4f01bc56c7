#include "chart/log_series.h"
#include "chart_test_support.h"
#include "download/log_decoder.h"
#include "download/meter_float.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace ostrand {
namespace {

QDateTime wallClock(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

TEST(ParseStampText, ReadsTheStampsOfSerialDownloadsOnATwelveHourClock)
{
    EXPECT_EQ(parseStampText("3/15/2004 2:30:00 PM"), wallClock(2004, 3, 15, 14, 30));
    EXPECT_EQ(parseStampText("3/15/2004 12:05:00 AM"), wallClock(2004, 3, 15, 0, 5));
    EXPECT_EQ(parseStampText("3/15/2004 12:05:09 PM"), wallClock(2004, 3, 15, 12, 5, 9));
    EXPECT_EQ(parseStampText(" 11/1/2004 9:00:00 am "), wallClock(2004, 11, 1, 9, 0));
}

TEST(ParseStampText, TakesADateAloneAsMidnight)
{
    EXPECT_EQ(parseStampText("3/16/2004"), wallClock(2004, 3, 16, 0, 0));
}

TEST(ParseStampText, ReadsPalmStampsOnATwentyFourHourClockMonthFirst)
{
    EXPECT_EQ(parseStampText("12/05/2007 09:30"), wallClock(2007, 12, 5, 9, 30));
    EXPECT_EQ(parseStampText("02/01/2008 23:59"), wallClock(2008, 2, 1, 23, 59));
}

TEST(ParseStampText, RefusesTextsThatAreNoStamp)
{
    for (const char *text :
         {"", "Date / Time", "13/01/2004", "2/30/2004", "3/15/04", "3/15/2004 13:00:00 PM",
          "3/15/2004 0:30 AM", "3/15/2004 24:00", "3/15/2004 9:60", "3/15/2004 2:30 XM",
          "3/15/2004 2:30:00 PM x", "3/15/2004 2", "3/15/20041", "3/15/2004x"})
        EXPECT_FALSE(parseStampText(text)) << text;
}

TEST(ParseStampText, SpacesStampsEvenlyAcrossADaylightSavingChange)
{
    // US clocks skipped 2:00 to 3:00 that night; a meter's clock does not.
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "America/New_York");
    tzset();
    const auto before = parseStampText("4/4/2004 1:45:00 AM");
    const auto within = parseStampText("4/4/2004 2:00:00 AM");
    const auto after = parseStampText("4/4/2004 2:15:00 AM");
    oldTz.isNull() ? qunsetenv("TZ") : qputenv("TZ", oldTz);
    tzset();
    ASSERT_TRUE(before && within && after);
    EXPECT_EQ(*within, wallClock(2004, 4, 4, 2, 0));
    EXPECT_EQ(within->toMSecsSinceEpoch() - before->toMSecsSinceEpoch(), 15 * 60 * 1000);
    EXPECT_EQ(after->toMSecsSinceEpoch() - within->toMSecsSinceEpoch(), 15 * 60 * 1000);
}

TEST(ParseValueText, ReadsTheDecimalTextsOfTheGrid)
{
    EXPECT_EQ(parseValueText("1.5"), 1.5);
    EXPECT_EQ(parseValueText("1E+37"), 1e37);
    EXPECT_EQ(parseValueText("-2.5E-05"), -2.5e-5);
    EXPECT_EQ(parseValueText(" 42 "), 42.0);
    for (const char *text : {"", " ", "abc", "1.5x", "1,5", "+-1", "nan", "inf", "\uff12"})
        EXPECT_FALSE(parseValueText(text)) << text;
}

TEST(SeriesFromGrid, GivesEachChannelInUseInOrderWithItsHeadingAndTotalFlag)
{
    LogGrid log;
    log.channel(8, "Total Gal", true);
    log.channel(1, "Flow GPM");
    log.state.channelInUse[3] = true;
    const auto series = seriesFromGrid(log.grid, log.state);
    ASSERT_EQ(series.size(), 3u);
    EXPECT_EQ(series[0].channel, 1);
    EXPECT_EQ(series[0].label, "Flow GPM");
    EXPECT_FALSE(series[0].total);
    EXPECT_EQ(series[1].label, "Channel 3");
    EXPECT_EQ(series[2].channel, 8);
    EXPECT_TRUE(series[2].total);
    EXPECT_TRUE(seriesFromGrid(log.grid, GridState{}).empty());
}

TEST(SeriesFromGrid, ReadsEveryDataRowUpToTheLastGridRowExactly)
{
    LogGrid log;
    log.channel(1, "Flow");
    log.channel(2, "Level");
    log.row("3/15/2004 2:30:00 PM", {{1, "1.5"}, {2, "-2.5E-05"}});
    log.row("3/15/2004 2:45:00 PM", {{1, "1E+37"}, {2, ""}});
    log.row("not a stamp", {{1, "7"}, {2, "7"}});
    log.row("3/16/2004", {{1, "bad"}, {2, "3"}});
    // Left over from a longer earlier log, past the rows this one began.
    log.grid.setRowTexts(log.state.lastGridRow + 1, {"5", "3/17/2004", "9", "9"});

    const auto series = seriesFromGrid(log.grid, log.state);
    const double t0 = msecs(2004, 3, 15, 14, 30);
    EXPECT_EQ(series[0].points, (std::vector<QPointF>{{t0, 1.5}, {t0 + 900000, 1e37}}));
    EXPECT_EQ(series[1].points, (std::vector<QPointF>{{t0, -2.5e-5}, {msecs(2004, 3, 16), 3}}));
}

TEST(SeriesFromGrid, ReadsTheStampsAndValuesAsTheDownloadWritesThem)
{
    LogGrid log;
    log.channel(1, "Flow");
    log.channel(2, "Total", true);
    const std::vector<QDateTime> stamps{wallClock(2004, 3, 15, 23, 45),
                                        wallClock(2004, 3, 16, 0, 0), wallClock(2004, 3, 16, 12, 0),
                                        wallClock(2004, 3, 16, 13, 15)};
    for (std::size_t i = 0; i < stamps.size(); ++i)
        log.row(stampText(stamps[i].date(), stamps[i].time()),
                {{1, valueText(0.125 * i)}, {2, totalValueText(1e6 + i)}});
    const auto series = seriesFromGrid(log.grid, log.state);
    ASSERT_EQ(series[0].points.size(), stamps.size());
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        const double x = double(stamps[i].toMSecsSinceEpoch());
        EXPECT_EQ(series[0].points[i], QPointF(x, 0.125 * i));
        EXPECT_EQ(series[1].points[i], QPointF(x, 1e6 + i));
    }
}

TEST(SeriesFromGrid, PutsRowsInTimeOrderWhenTheMetersClockWasSetBack)
{
    LogGrid log;
    log.channel(1, "Flow");
    log.row("12/05/2007 10:00", {{1, "1"}});
    log.row("12/05/2007 10:15", {{1, "2"}});
    log.row("12/05/2007 09:00", {{1, "3"}});
    log.row("12/05/2007 10:00", {{1, "4"}});
    const auto series = seriesFromGrid(log.grid, log.state);
    std::vector<double> ys;
    for (const QPointF &p : series[0].points)
        ys.push_back(p.y());
    EXPECT_EQ(ys, (std::vector<double>{3, 1, 4, 2}));
}

TEST(SeriesFromGrid, KeepsAllRowsOfAFullGridOfEightChannels)
{
    LogGrid log;
    log.fillAllRows();
    const auto series = seriesFromGrid(log.grid, log.state);
    ASSERT_EQ(series.size(), 8u);
    for (const ChannelSeries &s : series) {
        ASSERT_EQ(s.points.size(), 65533u);
        EXPECT_EQ(s.points.back().y(), s.channel * 1000 + 65534);
    }
}

std::vector<QPointF> ramp(int count)
{
    std::vector<QPointF> points;
    for (int i = 0; i < count; ++i)
        points.emplace_back(i, i % 10);
    return points;
}

TEST(DownsampleMinMax, ReturnsARangeOfFewPointsWholeWithOneNeighbourEachSide)
{
    const auto points = ramp(100);
    EXPECT_EQ(downsampleMinMax(points, 0, 99, 25), points);
    EXPECT_EQ(downsampleMinMax(points, 40, 49.5, 1000),
              std::vector<QPointF>(points.begin() + 39, points.begin() + 51));
    // A gap in the log still draws the line across the view.
    EXPECT_EQ(downsampleMinMax(points, 40.2, 40.8, 10),
              (std::vector<QPointF>{points[40], points[41]}));
    EXPECT_TRUE(downsampleMinMax({}, 0, 1, 10).empty());
}

TEST(DownsampleMinMax, KeepsEachBucketsFirstLastLowestAndHighestInXOrder)
{
    const std::vector<QPointF> points{{0, 5}, {1, 9}, {2, 6}, {3, 1}, {4, 7}, {5, 4}};
    EXPECT_EQ(downsampleMinMax(points, 0, 5, 1),
              (std::vector<QPointF>{{0, 5}, {1, 9}, {3, 1}, {5, 4}}));
}

TEST(DownsampleMinMax, ThinsAFullLogToFourPointsPerBucketKeepingItsExtremes)
{
    auto points = ramp(65533);
    points[30001].setY(1e6);
    points[50002].setY(-1e6);
    const auto shown = downsampleMinMax(points, 0, 65532, 1000);
    EXPECT_LE(shown.size(), 4000u);
    EXPECT_GE(shown.size(), 1000u);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end(),
                               [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); }));
    EXPECT_EQ(shown.front(), points.front());
    EXPECT_EQ(shown.back(), points.back());
    EXPECT_NE(std::find(shown.begin(), shown.end(), points[30001]), shown.end());
    EXPECT_NE(std::find(shown.begin(), shown.end(), points[50002]), shown.end());
    for (const QPointF &p : shown)
        ASSERT_EQ(points[std::size_t(p.x())], p);
}

TEST(DownsampleMinMax, GivesEveryPointOfANarrowRangeOnceZoomedIn)
{
    const auto points = ramp(65533);
    const auto shown = downsampleMinMax(points, 20000, 20499, 1000);
    EXPECT_EQ(shown, std::vector<QPointF>(points.begin() + 19999, points.begin() + 20501));
}

} // namespace
} // namespace ostrand
