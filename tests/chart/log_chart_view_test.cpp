#include "chart/log_chart_view.h"
#include "chart_test_support.h"
#include "fake_file_dialogs.h"

#include <QApplication>
#include <QCategoryAxis>
#include <QChartView>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QValueAxis>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace ostrand {
namespace {

class LogChartViewTest : public ::testing::Test {
protected:
    LogChartViewTest()
    {
        view.resize(900, 500);
        view.show();
        QApplication::processEvents();
    }

    QChart *chart() { return view.findChild<QChartView *>("chartView")->chart(); }
    QWidget *viewport() { return view.findChild<QChartView *>("chartView")->viewport(); }
    QPushButton *button(const char *name) { return view.findChild<QPushButton *>(name); }
    QCategoryAxis *timeAxis()
    {
        return qobject_cast<QCategoryAxis *>(chart()->axes(Qt::Horizontal)[0]);
    }
    QLineSeries *line(int i) { return qobject_cast<QLineSeries *>(chart()->series()[i]); }
    double span() { return timeAxis()->max() - timeAxis()->min(); }

    void refreshAndLayOut()
    {
        view.refresh();
        QApplication::processEvents();
    }

    void threeChannelLog()
    {
        log.channel(1, "Flow GPM");
        log.channel(2, "Pressure PSI");
        log.channel(3, "Total Gal", true);
        log.row("3/15/2004 2:30:00 PM", {{1, "10"}, {2, "60"}, {3, "500000"}});
        log.row("3/15/2004 2:45:00 PM", {{1, "12"}, {2, "1E+37"}, {3, "500180"}});
        log.row("3/15/2004 3:00:00 PM", {{1, "8"}, {2, "58"}, {3, "500300"}});
    }

    LogGrid log;
    FakeFileDialogs dialogs;
    LogChartView view{log.grid, log.state, dialogs};
    QTemporaryDir dir;
};

TEST_F(LogChartViewTest, ShowsAPlaceholderAndNoButtonsUntilTheGridHoldsALog)
{
    log.channel(1, "Flow");
    log.row("3/15/2004 2:30:00 PM", {{1, ""}});
    refreshAndLayOut();
    EXPECT_TRUE(view.findChild<QLabel *>("chartPlaceholder")->isVisible());
    EXPECT_FALSE(button("chartSaveButton")->isEnabled());
    EXPECT_FALSE(button("chartResetZoomButton")->isEnabled());
    EXPECT_FALSE(view.saveAsPng(dir.filePath("none.png")));
}

TEST_F(LogChartViewTest, DrawsEachChannelUnderItsLabelWithTotalsOnTheRightAxisAndNoOutOfRangeMarks)
{
    threeChannelLog();
    refreshAndLayOut();
    ASSERT_EQ(chart()->series().size(), 3);
    EXPECT_TRUE(view.findChild<QChartView *>("chartView")->isVisible());
    for (int i = 0; i < 3; ++i) {
        const auto axes = line(i)->attachedAxes();
        const bool onRight = std::any_of(axes.begin(), axes.end(), [](QAbstractAxis *axis) {
            return axis->alignment() == Qt::AlignRight;
        });
        EXPECT_EQ(onRight, i == 2) << i;
    }
    EXPECT_EQ(line(0)->name(), "Flow GPM");
    EXPECT_EQ(line(2)->name(), "Total Gal");
    // The meter's out-of-range mark (1E+37) neither drawn nor scaled to.
    EXPECT_EQ(line(1)->count(), 2);
    for (QAbstractAxis *axis : chart()->axes(Qt::Vertical))
        EXPECT_LT(qobject_cast<QValueAxis *>(axis)->max(), 1e6);
}

TEST_F(LogChartViewTest, DrawsAFullLogThinnedYetZoomsInToEveryPoint)
{
    log.fillAllRows({{40000, 1e6}});
    refreshAndLayOut();
    ASSERT_EQ(chart()->series().size(), 8);
    const double spikeX = msecs(2004, 3, 15) + 40000.0 * 900000;
    for (int i = 0; i < 8; ++i) {
        EXPECT_LE(line(i)->count(), 6002);
        EXPECT_TRUE(line(i)->points().contains(QPointF(spikeX, 1e6)));
    }
    timeAxis()->setRange(spikeX - 100 * 900000.0, spikeX + 99 * 900000.0);
    EXPECT_EQ(line(0)->count(), 202);
    EXPECT_EQ(line(0)->at(101), QPointF(spikeX, 1e6));
}

TEST_F(LogChartViewTest, TheWheelZoomsTimeAroundTheCursorAndResetShowsAllAgain)
{
    threeChannelLog();
    refreshAndLayOut();
    const double fullMin = timeAxis()->min();
    const double fullSpan = span();
    const double valueMax = qobject_cast<QValueAxis *>(chart()->axes(Qt::Vertical)[0])->max();
    const QPointF at = chart()->plotArea().center();
    QWheelEvent wheel(at, viewport()->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport(), &wheel);
    EXPECT_NEAR(span(), fullSpan * 0.64, fullSpan * 0.01);
    EXPECT_NEAR(timeAxis()->min() + span() / 2, fullMin + fullSpan / 2, fullSpan * 0.01);
    EXPECT_EQ(qobject_cast<QValueAxis *>(chart()->axes(Qt::Vertical)[0])->max(), valueMax);

    button("chartResetZoomButton")->click();
    EXPECT_EQ(timeAxis()->min(), msecs(2004, 3, 15, 14, 30));
    EXPECT_EQ(timeAxis()->max(), msecs(2004, 3, 15, 15, 0));
}

TEST_F(LogChartViewTest, ARightButtonDragPansTimeWithoutZooming)
{
    threeChannelLog();
    refreshAndLayOut();
    const double before = timeAxis()->min();
    const double fullSpan = span();
    const QPointF from = chart()->plotArea().center();
    const QPointF to = from + QPointF(chart()->plotArea().width() / 4, 0);
    auto send = [this](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
        QMouseEvent event(type, at, viewport()->mapToGlobal(at), Qt::RightButton, held,
                          Qt::NoModifier);
        QApplication::sendEvent(viewport(), &event);
    };
    send(QEvent::MouseButtonPress, from, Qt::RightButton);
    send(QEvent::MouseMove, to, Qt::RightButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
    EXPECT_NEAR(span(), fullSpan, 1);
    EXPECT_NEAR(timeAxis()->min(), before - fullSpan / 4, fullSpan * 0.01);
}

TEST_F(LogChartViewTest, SavesThePngTheOperatorNamesAndSaysWhereItWent)
{
    threeChannelLog();
    refreshAndLayOut();
    const QString path = dir.filePath("log.png");
    dialogs.answerNext(path);
    button("chartSaveButton")->click();
    ASSERT_EQ(dialogs.questions().size(), 1u);
    EXPECT_TRUE(dialogs.questions()[0].filter.contains("*.png"));
    const QImage image(path);
    EXPECT_EQ(image.size(), view.findChild<QChartView *>("chartView")->size());
    EXPECT_TRUE(view.findChild<QLabel *>("chartStatusLabel")->text().contains(path));

    dialogs.answerNext(std::nullopt);
    button("chartSaveButton")->click();
    EXPECT_TRUE(view.findChild<QLabel *>("chartStatusLabel")->text().contains(path));

    dialogs.answerNext(dir.filePath("missing/log.png"));
    button("chartSaveButton")->click();
    EXPECT_TRUE(view.findChild<QLabel *>("chartStatusLabel")->text().startsWith("Could not"));
}

TEST_F(LogChartViewTest, RefreshReplacesTheDrawingWithTheGridsNewLog)
{
    threeChannelLog();
    refreshAndLayOut();
    log.grid.clear();
    log.state = GridState{};
    log.channel(4, "Level");
    log.row("12/05/2007 09:30", {{4, "2.5"}});
    refreshAndLayOut();
    ASSERT_EQ(chart()->series().size(), 1);
    EXPECT_EQ(line(0)->name(), "Level");
    EXPECT_EQ(line(0)->at(0), QPointF(msecs(2007, 12, 5, 9, 30), 2.5));
    EXPECT_LT(timeAxis()->min(), msecs(2007, 12, 5, 9, 30));
    EXPECT_GT(timeAxis()->max(), msecs(2007, 12, 5, 9, 30));
}

} // namespace
} // namespace ostrand
