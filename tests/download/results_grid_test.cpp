#include "download/results_grid.h"
#include "qt_printers.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <climits>

namespace ostrand {
namespace {

TEST(ResultsGrid, ShowsItsCellsOneDownAndOneRightIgnoresWritesOutsideAndAnnouncesEachWrite)
{
    ResultsGrid grid(6, 5);
    QSignalSpy changes(&grid, &QAbstractItemModel::dataChanged);
    grid.setRowTexts(2, {"1", "a", "b", "c", "d", "past the last column"});
    grid.setText(5, 4, "corner");
    for (const auto &[row, col] : {std::pair{-1, 0}, {0, -1}, {6, 0}, {0, 5}, {INT_MAX, INT_MIN}})
        grid.setText(row, col, "x");
    EXPECT_EQ(grid.rowTexts(2), QStringList({"1", "a", "b", "c", "d"}));
    EXPECT_EQ(grid.data(grid.index(1, 0)).toString(), "a");
    EXPECT_EQ(grid.headerData(1, Qt::Vertical).toString(), "1");
    EXPECT_EQ(grid.data(grid.index(4, 3)).toString(), "corner");
    EXPECT_EQ(grid.lastUsedRow(), 5);
    ASSERT_EQ(changes.size(), 2);
    EXPECT_EQ(changes[1][0].value<QModelIndex>(), grid.index(4, 3));
}

TEST(ResultsGrid, ModelTesterFindsNoFaultThroughFillsClearsAndResizes)
{
    static QStringList complaints;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type != QtDebugMsg && type != QtInfoMsg)
                complaints << text;
        });
    {
        ResultsGrid grid(200, 10);
        QAbstractItemModelTester tester(&grid,
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
        for (int row = 1; row < 200; ++row)
            grid.setRowTexts(row, {QString::number(row), "12/1/2026", "1.5"});
        grid.setCols(4);
        grid.beginBulkUpdate(); // changes pending beyond the new end must not be announced
        grid.setText(3, 2, "kept");
        grid.setText(59, 3, "dropped");
        grid.setRows(30);
        grid.endBulkUpdate();
        EXPECT_EQ(grid.text(3, 2), "kept");
        grid.clear();
        EXPECT_EQ(grid.lastUsedRow(), -1);
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(complaints.isEmpty()) << complaints.join('\n').toStdString();
}

} // namespace
} // namespace ostrand
