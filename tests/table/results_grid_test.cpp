#include "table/results_grid.h"
#include "qt_printers.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <climits>

namespace ostrand {
namespace {

// Row and column 0 hold the headings: the view shows cells one down and one right.
TEST(ResultsGrid, ShowsCellsOneDownAndOneRightIgnoresWritesOutsideAndKeepsTheModelSound)
{
    static QStringList complaints;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type != QtDebugMsg && type != QtInfoMsg)
                complaints << text;
        });
    {
        ResultsGrid grid(60, 5);
        QAbstractItemModelTester tester(&grid,
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
        QSignalSpy changes(&grid, &QAbstractItemModel::dataChanged);
        grid.setRowTexts(2, {"1", "a", "b", "c", "d", "past the last column"});
        for (const auto &[row, col] :
             {std::pair{-1, 0}, {0, -1}, {60, 0}, {0, 5}, {INT_MAX, INT_MIN}})
            grid.setText(row, col, "x");
        EXPECT_EQ(grid.rowTexts(2), QStringList({"1", "a", "b", "c", "d"}));
        EXPECT_EQ(grid.data(grid.index(1, 0)).toString(), "a");
        EXPECT_EQ(grid.headerData(1, Qt::Vertical).toString(), "1");
        EXPECT_EQ(changes.size(), 1);
        grid.beginBulkUpdate(); // changes pending beyond the new end must not be announced
        grid.setText(3, 2, "kept");
        grid.setText(59, 3, "dropped");
        grid.setRows(30);
        grid.endBulkUpdate();
        EXPECT_EQ(grid.text(3, 2), "kept");
        EXPECT_EQ(grid.lastUsedRow(), 3);
        grid.clear();
        EXPECT_EQ(grid.lastUsedRow(), -1);
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(complaints.isEmpty()) << complaints.join('\n').toStdString();
}

} // namespace
} // namespace ostrand
