#include "chart/log_chart_view.h"
#include "chart/log_series.h"
#include "chart/time_ticks.h"
#include "download/log_decoder.h"
#include "fake_file_dialogs.h"
#include "table/grid_layout.h"
#include "table/grid_state.h"
#include "table/meter_float.h"
#include "table/results_grid.h"

#include <QApplication>
#include <QChartView>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QTemporaryDir>
#include <QValueAxis>
#include <gtest/gtest.h>

#include <ctime>
#include <map>

namespace ostrand {
namespace {

double msecs(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    const QDateTime at(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
    return double(at.toMSecsSinceEpoch());
}

// A results grid filled the way a download leaves it, row by row.
struct LogGrid {
    ResultsGrid grid{ResultsGrid::kDefaultRows, ResultsGrid::kDefaultCols};
    GridState state;

    void channel(int k, const QString &label, bool total = false)
    {
        state.channel(k) = Channel{label, true, total};
        grid.setText(kHeadingRow, channelCol(k), label);
    }
    void row(const QString &stamp, const std::map<int, QString> &values)
    {
        QStringList texts{QString::number(state.lastGridRow), stamp};
        for (int k = 1; k <= kChannelCount; ++k)
            texts << (values.count(k) ? values.at(k) : QString());
        grid.setRowTexts(++state.lastGridRow, texts);
    }
};

TEST(ChartTexts, readTheStampsAndValuesOfSerialAndPalmDownloadsAndNothingElse)
{
    // US clocks skipped 2:00 to 3:00 on 4/4/2004; a meter's clock does not.
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "America/New_York");
    tzset();
    const struct {
        const char *text;
        double stamp; // 0: not a stamp
    } stamps[] = {
        {"3/15/2004 2:30:00 PM", msecs(2004, 3, 15, 14, 30)}, {"3/16/2004", msecs(2004, 3, 16)},
        {"3/15/2004 12:05:09 AM", msecs(2004, 3, 15, 0, 5, 9)}, {"4/4/2004 2:00:00 AM", msecs(2004, 4, 4, 2)},
        {" 11/1/2004 9:00:00 am ", msecs(2004, 11, 1, 9)}, {"02/01/2008 23:59", msecs(2008, 2, 1, 23, 59)},
        {"Date / Time", 0}, {"2/30/2004", 0}, {"3/15/04", 0}, {"3/15/2004 13:00:00 PM", 0},
        {"3/15/2004 0:30 AM", 0}, {"3/15/2004 24:00", 0}, {"3/15/2004 2:30:00 PM x", 0},
    };
    for (const auto &row : stamps) {
        const auto got = parseStampText(row.text);
        EXPECT_EQ(got ? double(got->toMSecsSinceEpoch()) : 0, row.stamp) << row.text;
    }
    oldTz.isNull() ? qunsetenv("TZ") : qputenv("TZ", oldTz);
    tzset();
    const struct {
        const char *text;
        std::optional<double> value;
    } values[] = {{"1E+37", 1e37}, {"-2.5E-05", -2.5e-5}, {" 42 ", 42.0}, {"", {}},
                  {"1.5x", {}},    {"1,5", {}},         {"nan", {}},    {"\uff12", {}}};
    for (const auto &row : values)
        EXPECT_EQ(parseValueText(row.text), row.value) << row.text;
}

TEST(SeriesFromGrid, readsEachChannelInUseRowByRowUpToTheLastGridRowInTimeOrder)
{
    LogGrid log;
    log.channel(8, "Total", true);
    log.channel(1, "Flow");
    log.state.channel(3).inUse = true;
    // As the download writes them, midnight included; the meter's clock set back once.
    log.row(stampText(QDate(2004, 3, 15), QTime(23, 45)),
            {{1, valueText(0.125)}, {8, totalValueText(1e6 + 0.5)}});
    log.row(stampText(QDate(2004, 3, 16), QTime(0, 0)), {{1, "1E+37"}});
    log.row("not a stamp", {{1, "7"}, {8, "7"}});
    log.row("3/15/2004 11:00:00 PM", {{1, "bad"}, {8, "-2.5E-05"}});
    log.row("3/16/2004", {{1, "4"}});
    // Left over from a longer earlier log, past the rows this one began.
    log.grid.setRowTexts(log.state.lastGridRow + 1, {"5", "3/17/2004", "9", "9"});

    const auto series = seriesFromGrid(log.grid, log.state);
    ASSERT_EQ(series.size(), 3u);
    EXPECT_EQ(std::make_tuple(series[0].label, series[1].label, series[2].label, series[2].total),
              std::make_tuple("Flow", "Channel 3", "Total", true));
    const double t0 = msecs(2004, 3, 15, 23, 45), midnight = msecs(2004, 3, 16);
    EXPECT_EQ(series[0].points,
              (std::vector<QPointF>{{t0, 0.125}, {midnight, 1e37}, {midnight, 4}}));
    EXPECT_EQ(series[2].points, (std::vector<QPointF>{{t0 - 2700000, -2.5e-5}, {t0, 1e6}}));
}

TEST(TimeTicks, markRoundTimesEvenlyGivingTheDateOnlyWhereItChangesAndNoMoreThanFit)
{
    const struct {
        double from, to;
        int maxTicks;
        QStringList expected;
    } rows[] = {
        {msecs(2004, 3, 15, 0, 15), msecs(2004, 3, 18), 7, {"12:00 PM | 3/15/2004",
         "12:00 AM | 3/16/2004", "12:00 PM", "12:00 AM | 3/17/2004", "12:00 PM", "12:00 AM | 3/18/2004"}},
        {msecs(2004, 3, 15, 9), msecs(2004, 3, 19), 5, {"3/16 | 2004", "3/17", "3/18", "3/19"}},
        {msecs(2004, 2, 10), msecs(2005, 8, 1), 8, {"Apr | 2004", "Jul", "Oct", "Jan | 2005", "Apr", "Jul"}},
        {msecs(1994, 2, 10), msecs(2016, 8, 1), 4, {"2000", "2010"}},
        {msecs(2004, 3, 16), msecs(2004, 3, 15), 10, {}},
    };
    for (const auto &row : rows) {
        QStringList labels;
        for (const TimeTick &tick : timeTicks(row.from, row.to, row.maxTicks))
            labels << (tick.context.isEmpty() ? tick.label : tick.label + " | " + tick.context);
        EXPECT_EQ(labels, row.expected) << row.maxTicks;
    }
}

class LogChartViewTest : public ::testing::Test {
protected:
    LogChartViewTest() { view.resize(900, 500), view.show(); }

    QChart *chart() { return view.findChild<QChartView *>("chartView")->chart(); }
    QValueAxis *timeAxis() { return qobject_cast<QValueAxis *>(chart()->axes(Qt::Horizontal)[0]); }
    QLineSeries *line(int i) { return qobject_cast<QLineSeries *>(chart()->series()[i]); }
    QValueAxis *valueAxis(int i) { return qobject_cast<QValueAxis *>(line(i)->attachedAxes().back()); }
    void threeChannels(const QString &second) { log.channel(1, "Flow"), log.channel(2, second), log.channel(3, "Total Gal", true); }
    void refresh() { view.refresh(), QApplication::processEvents(); }

    LogGrid log;
    FakeFileDialogs dialogs;
    LogChartView view{log.grid, log.state, dialogs};
    QTemporaryDir dir;
};

TEST_F(LogChartViewTest, drawsTotalsOnTheRightAndNoOutOfRangeMarkAndSavesWhatItDrew)
{
    threeChannels("Pressure PSI");
    log.row("3/15/2004 2:45:00 PM", {{1, "12"}, {2, "1E+37"}, {3, "0"}});
    log.row("3/15/2004 3:00:00 PM", {{1, "8"}, {2, "58"}, {3, "120"}});
    log.row("3/15/2004 3:15:00 PM", {{1, "9"}, {2, "-1E+37"}, {3, "220"}});
    refresh();
    ASSERT_EQ(chart()->series().size(), 3);
    EXPECT_EQ(chart()->title(), "Flow, Pressure PSI, Total Gal · 3/15/2004 2:45 PM to 3/15/2004 3:15 PM");
    EXPECT_EQ(QStringList({valueAxis(0)->titleText(), valueAxis(2)->titleText()}),
              QStringList({"Values (PSI)", "Totals (Gal)"}));
    EXPECT_EQ(valueAxis(2)->min(), 0) << "no room below zero for totals that never go there";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(line(i)->attachedAxes().back()->alignment(), i == 2 ? Qt::AlignRight : Qt::AlignLeft);
    // The meter's out-of-range marks neither drawn nor scaled to.
    EXPECT_EQ(line(1)->points(), QList<QPointF>({{msecs(2004, 3, 15, 15), 58}}));
    for (QAbstractAxis *vertical : chart()->axes(Qt::Vertical))
        EXPECT_LT(qobject_cast<QValueAxis *>(vertical)->max(), 1e6);

    const QString path = dir.filePath("log.png");
    dialogs.answerNext(path);
    dialogs.answerNext(dir.filePath("missing/log.png"));
    auto *save = view.findChild<QPushButton *>("chartSaveButton");
    save->click();
    EXPECT_EQ(QImage(path).size(), view.findChild<QChartView *>("chartView")->size());
    save->click();
    EXPECT_TRUE(view.findChild<QLabel *>("chartStatusLabel")->text().startsWith("Could not"));
}

TEST_F(LogChartViewTest, drawsAFullLogThinnedToItsExtremesYetZoomsInToEveryPointAndResetShowsAllAgain)
{
    // Every row a 15-minute sample of eight channels, k * 1000 + row, with one spike each way.
    const std::map<int, double> spikes{{40000, 1e6}, {50002, -1e6}};
    {
        ResultsGrid::BulkUpdate bulk(log.grid);
        for (int k = 1; k <= kChannelCount; ++k)
            log.channel(k, QStringLiteral("Ch%1").arg(k));
        for (int r = log.state.lastGridRow + 1; r < log.grid.rows(); ++r) {
            std::map<int, QString> values;
            for (int k = 1; k <= kChannelCount; ++k)
                values[k] = QString::number(spikes.count(r) ? spikes.at(r) : k * 1000 + r);
            const double at = msecs(2004, 3, 15) + r * 900000.0;
            log.row(QDateTime::fromMSecsSinceEpoch(qint64(at), Qt::UTC).toString("M/d/yyyy h:mm:ss AP"), values);
        }
    }
    refresh();
    ASSERT_EQ(chart()->series().size(), 8);
    const auto all = seriesFromGrid(log.grid, log.state)[7].points;
    ASSERT_EQ(all.size(), 65533u);
    const QList<QPointF> drawn = line(7)->points();
    EXPECT_LE(drawn.size(), 6002);
    for (const double spike : {1e6, -1e6})
        EXPECT_EQ(std::count_if(drawn.begin(), drawn.end(), [&](QPointF p) { return p.y() == spike; }), 1);
    const double spikeX = msecs(2004, 3, 15) + 40000.0 * 900000;
    timeAxis()->setRange(spikeX - 100 * 900000.0, spikeX + 99 * 900000.0);
    EXPECT_EQ(line(0)->count(), 202);
    EXPECT_EQ(line(0)->at(101), QPointF(spikeX, 1e6));

    view.findChild<QPushButton *>("chartResetZoomButton")->click();
    EXPECT_EQ(timeAxis()->min(), msecs(2004, 3, 15, 0, 30));
    EXPECT_EQ(timeAxis()->max(), msecs(2004, 3, 15) + 65534.0 * 900000);
}

TEST_F(LogChartViewTest, hidingAChannelRefitsItsValueAxisToThoseShownAndTakesItsReadOutAlong)
{
    threeChannels("Spike");
    log.row("3/15/2004 2:45:00 PM", {{1, "2"}, {2, "900"}, {3, "10"}});
    log.row("3/15/2004 3:00:00 PM", {{1, "8"}, {2, "1000"}, {3, "5000"}});
    refresh();
    auto *readout = view.findChild<QLabel *>("chartReadout");
    auto *hint = view.findChild<QLabel *>("chartHint");
    const int hintWidth = hint->width();
    const auto toggle = [&](int i) { emit chart()->legend()->markers(line(i))[0]->clicked(); };
    emit line(1)->hovered({msecs(2004, 3, 15, 15), 990}, true);
    QApplication::processEvents();
    EXPECT_EQ(readout->text(), "3/15/2004 3:00:00 PM  Spike = 1000");
    EXPECT_EQ(hint->width(), hintWidth) << "the read-out takes no room from the hint";
    // Each row: the channel clicked in the legend, then the axes' tops (0: the axis hidden).
    const struct {
        int toggled;
        double valueMax, totalMax;
    } rows[] = {{1, 9, 6000}, {2, 9, 0}, {0, 0, 0}, {1, 1020, 0}, {2, 1020, 6000}, {0, 1200, 6000}};
    for (const auto &row : rows) {
        toggle(row.toggled);
        EXPECT_EQ(valueAxis(0)->isVisible() ? valueAxis(0)->max() : 0, row.valueMax) << row.toggled;
        EXPECT_EQ(valueAxis(2)->isVisible() ? valueAxis(2)->max() : 0, row.totalMax) << row.toggled;
        if (&row == rows) {
            EXPECT_EQ(readout->text(), "") << "gone with its channel";
        }
    }
    emit line(0)->hovered({msecs(2004, 3, 15, 15), 8}, true);
    toggle(1);
    EXPECT_EQ(readout->text(), "3/15/2004 3:00:00 PM  Flow = 8") << "another channel hidden: it stays";
}

} // namespace
} // namespace ostrand
