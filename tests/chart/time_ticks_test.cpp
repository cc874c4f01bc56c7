#include "chart/time_ticks.h"
#include "chart_test_support.h"

#include <gtest/gtest.h>

namespace ostrand {
namespace {

QStringList labels(const std::vector<TimeTick> &ticks)
{
    QStringList result;
    for (const TimeTick &tick : ticks)
        result << (tick.context.isEmpty() ? tick.label : tick.label + " | " + tick.context);
    return result;
}

TEST(TimeTicks, MarksRoundTimesGivingTheDateOnlyWhereItChanges)
{
    const auto ticks = timeTicks(msecs(2004, 3, 15, 0, 15), msecs(2004, 3, 18), 7);
    EXPECT_EQ(labels(ticks),
              QStringList({"12:00 PM | 3/15/2004", "12:00 AM | 3/16/2004", "12:00 PM",
                           "12:00 AM | 3/17/2004", "12:00 PM", "12:00 AM | 3/18/2004"}));
    EXPECT_EQ(ticks.front().x, msecs(2004, 3, 15, 12));
    EXPECT_EQ(ticks.back().x, msecs(2004, 3, 18));
}

TEST(TimeTicks, NeverGivesMoreMarksThanFitAndSpacesThemEvenly)
{
    const double start = msecs(2004, 3, 15, 7, 3, 11);
    for (double span : {20e3, 7e5, 3.6e6, 8.64e7, 2.6e8, 1.7e9}) {
        for (int maxTicks = 2; maxTicks <= 16; ++maxTicks) {
            const auto ticks = timeTicks(start, start + span, maxTicks);
            ASSERT_LE(int(ticks.size()), maxTicks) << span;
            for (std::size_t i = 0; i < ticks.size(); ++i) {
                ASSERT_GE(ticks[i].x, start);
                ASSERT_LE(ticks[i].x, start + span);
                if (i >= 2) {
                    ASSERT_EQ(ticks[i].x - ticks[i - 1].x, ticks[1].x - ticks[0].x) << span;
                }
            }
        }
    }
}

TEST(TimeTicks, CountsInDaysMondaysMonthsAndYearsAsTheRangeGrows)
{
    EXPECT_EQ(labels(timeTicks(msecs(2004, 3, 15, 9), msecs(2004, 3, 19), 5)),
              QStringList({"3/16 | 2004", "3/17", "3/18", "3/19"}));
    for (const TimeTick &tick : timeTicks(msecs(2004, 3, 1), msecs(2004, 5, 30), 14))
        EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(qint64(tick.x), Qt::UTC).date().dayOfWeek(), 1);
    EXPECT_EQ(labels(timeTicks(msecs(2004, 2, 10), msecs(2005, 8, 1), 8)),
              QStringList({"Apr | 2004", "Jul", "Oct", "Jan | 2005", "Apr", "Jul"}));
    EXPECT_EQ(labels(timeTicks(msecs(1994, 2, 10), msecs(2016, 8, 1), 4)),
              QStringList({"2000", "2010"}));
}

TEST(TimeTicks, GivesNothingForAnEmptyRange)
{
    EXPECT_TRUE(timeTicks(msecs(2004, 3, 15), msecs(2004, 3, 15), 10).empty());
    EXPECT_TRUE(timeTicks(msecs(2004, 3, 16), msecs(2004, 3, 15), 10).empty());
}

} // namespace
} // namespace ostrand
