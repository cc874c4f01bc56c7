#include "table/results_grid.h"
#include "table/results_table_model.h"
#include "qt_printers.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <climits>
#include <functional>

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

TEST(ResultsTableModel, showsTheFilledRowsUnderRowOnesHeadingsAsTheGridFillsShrinksAndEmpties)
{
    ResultsGrid grid(ResultsGrid::kDefaultRows, 4);
    ResultsTableModel model(grid);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto record = [&](int row) {
        grid.setRowTexts(row, {QString::number(row - 1), QStringLiteral("stamp %1").arg(row - 1), "1.5", "2"});
    };
    const struct {
        const char *what;
        std::function<void()> change;
        int rows;
        QString lastRecord, lastStamp, corner;
        QStringList headings;
    } steps[] = {
        {"empty", [] {}, 0, "", "", "", {"", "", ""}},
        {"the headings", [&] { grid.setRowTexts(1, {"Record #", "Date / Time", "Flow", "Level"}); },
         0, "", "", "Record #", {"Date / Time", "Flow", "Level"}},
        {"three records in one fill", [&] {
             const ResultsGrid::BulkUpdate bulk(grid);
             for (int row = 2; row <= 4; ++row)
                 record(row);
         }, 3, "3", "stamp 3", "Record #", {"Date / Time", "Flow", "Level"}},
        {"one more", [&] { record(5); }, 4, "4", "stamp 4", "Record #", {"Date / Time", "Flow", "Level"}},
        {"the grid cut short", [&] { grid.setRows(4); }, 2, "2", "stamp 2", "Record #", {"Date / Time", "Flow", "Level"}},
        {"emptied", [&] { grid.clear(); }, 0, "", "", "", {"", "", ""}},
    };
    for (const auto &step : steps) {
        step.change();
        EXPECT_EQ(model.rowCount(), step.rows) << step.what;
        EXPECT_EQ(model.headerData(step.rows - 1, Qt::Vertical).toString(), step.lastRecord) << step.what;
        EXPECT_EQ(model.index(step.rows - 1, 0).data().toString(), step.lastStamp) << step.what;
        EXPECT_EQ(model.cornerText(), step.corner) << step.what;
        QStringList headings;
        for (int col = 0; col < model.columnCount(); ++col)
            headings << model.headerData(col, Qt::Horizontal).toString();
        EXPECT_EQ(headings, step.headings) << step.what;
    }
}

} // namespace
} // namespace ostrand
