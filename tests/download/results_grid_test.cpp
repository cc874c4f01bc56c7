#include "download/results_grid.h"

#include <QAbstractItemModelTester>
#include <QSize>
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

// Heap use is read from glibc's own books, which a sanitizer's allocator bypasses.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define HEAP_USE_UNKNOWN 1
#endif
#endif
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(HEAP_USE_UNKNOWN)
#define HEAP_USE_KNOWN 1
#include <malloc.h>
#endif

namespace ostrand {
namespace {

QString cellName(int row, int col)
{
    return QStringLiteral("r%1c%2").arg(row).arg(col);
}

// A download's worth of rows: record number, date, time and seven readings.
QStringList logRow(int record)
{
    QStringList texts{QString::number(record), "12/06/2026", "13:45:00"};
    for (int channel = 0; channel < 7; ++channel)
        texts.append(QString::number(record * 0.001 + channel, 'f', 3));
    return texts;
}

void fillLog(ResultsGrid &grid)
{
    for (int row = 1; row < grid.rows(); ++row)
        grid.setRowTexts(row, logRow(row));
}

// The change notices a grid sends, in model terms and joined by "; ":
// "cells r,c-r,c" (dataChanged), "columns a-b" / "rows a-b" (headers), "reset".
struct Notices : QObject {
    explicit Notices(ResultsGrid &grid)
    {
        connect(&grid, &QAbstractItemModel::dataChanged, this, [this](auto a, auto b) {
            note(QString::asprintf("cells %d,%d-%d,%d", a.row(), a.column(), b.row(), b.column()));
        });
        connect(&grid, &QAbstractItemModel::headerDataChanged, this, [this](auto o, int a, int b) {
            note(QString::asprintf("%s %d-%d", o == Qt::Horizontal ? "columns" : "rows", a, b));
        });
        connect(&grid, &QAbstractItemModel::modelReset, this, [this] { note("reset"); });
    }
    void note(const QString &notice) { log += (log.empty() ? "" : "; ") + notice.toStdString(); }
    std::string take() { return std::exchange(log, std::string()); }
    std::string log;
};

TEST(ResultsGridCells, WritingCellsOfAnyTextLeavesTheRestOfTheRowAndLastUsedRowFollows)
{
    ResultsGrid grid;
    grid.setRowTexts(4, logRow(4));
    QStringList expected = logRow(4);
    const std::pair<int, QString> edits[] = {
        {5, QString(100000, QLatin1Char('7'))}, {0, ""}, {9, "\u00b0C \u03bc\u00b5 \U0001F30A"},
        {3, QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b")}, {5, "short again"}};
    for (const auto &[col, text] : edits) {
        grid.setText(4, col, text);
        expected[col] = text;
        EXPECT_EQ(grid.rowTexts(4), expected) << col;
    }
    grid.setRowTexts(4, {"a", "b"});
    expected[0] = "a";
    expected[1] = "b";
    EXPECT_EQ(grid.rowTexts(4), expected);
    grid.setRowTexts(7, logRow(7) + QStringList{"past the last column", "too"});
    EXPECT_EQ(grid.rowTexts(7), logRow(7));
    EXPECT_EQ(grid.rowTexts(3) + grid.rowTexts(5), QStringList(20));
    EXPECT_EQ(grid.lastUsedRow(), 7);
    grid.setRowTexts(7, QStringList(10));
    EXPECT_EQ(grid.lastUsedRow(), 4);
    for (int col = 0; col < 10; ++col)
        grid.setText(4, col, "");
    EXPECT_EQ(grid.lastUsedRow(), -1);
}

TEST(ResultsGridCells, ClearEmptiesAndAnnouncesTheRowsThatHeldTextButKeepsSizeAndWidths)
{
    ResultsGrid grid;
    grid.setColWidthTwips(4, 2000);
    grid.setText(0, 3, "Time");
    grid.setText(30, 2, "x");
    Notices notices(grid);
    grid.clear();
    EXPECT_EQ(notices.take(), "columns 0-8; rows 0-29; cells 0,0-29,8");
    grid.clear();
    EXPECT_EQ(notices.take(), "");
    EXPECT_EQ(grid.rows(), 65535);
    EXPECT_EQ(grid.cols(), 10);
    EXPECT_EQ(grid.colWidthTwips(4), 2000);
    EXPECT_EQ(grid.lastUsedRow(), -1);
}

TEST(ResultsGridCells, ResizingKeepsTheCellsThatRemainAndDropsTheRestForGood)
{
    ResultsGrid grid(100, 10);
    grid.setRowTexts(2, logRow(2));
    grid.setText(6, 8, "only in a dropped column");
    grid.setText(50, 1, "in a dropped row");
    grid.setColWidthTwips(1, 1500);
    grid.setRows(20);
    EXPECT_EQ(grid.lastUsedRow(), 6);
    grid.setCols(4);
    EXPECT_EQ(grid.lastUsedRow(), 2);
    EXPECT_EQ(grid.rowTexts(2), logRow(2).mid(0, 4));

    grid.setRows(100);
    grid.setCols(6);
    grid.setText(2, 5, "new");
    EXPECT_EQ(grid.text(50, 1), QString());
    EXPECT_EQ(grid.rowTexts(2), logRow(2).mid(0, 4) + QStringList({{}, "new"}));
    EXPECT_EQ(grid.colWidthTwips(1), 1500);
}

TEST(ResultsGridWidths, EachColumnKeepsItsWidthAndItsHeaderReportsAndAnnouncesIt)
{
    ResultsGrid grid;
    Notices notices(grid);
    grid.setColWidthTwips(3, 1500);
    grid.setColWidthTwips(0, 900);
    grid.setColWidthTwips(0, 900);
    EXPECT_EQ(notices.take(), "columns 2-2; rows 0-65533");
    const QSize column = grid.headerData(2, Qt::Horizontal, Qt::SizeHintRole).toSize();
    const QSize row = grid.headerData(500, Qt::Vertical, Qt::SizeHintRole).toSize();
    EXPECT_EQ(column.width(), 100);
    EXPECT_EQ(row.width(), 60);
    EXPECT_GT(column.height(), 0); // a header's thickness comes from its hints' other side
    EXPECT_GT(row.height(), 0);

    grid.setColWidthTwips(3, -1);
    grid.setColWidthTwips(10, 500);
    EXPECT_EQ(notices.take(), "columns 2-2");
    EXPECT_EQ(grid.colWidthTwips(3), ResultsGrid::kDefaultColWidthTwips);
    for (const auto &[twips, pixels] : {std::pair{7, 0}, {8, 1}, {22, 1}, {23, 2}, {1722, 115}})
        EXPECT_EQ(ResultsGrid::twipsToPixels(twips), pixels) << twips;
}

TEST(ResultsGridModel, ModelCellsAndHeadersShowTheGridOneDownAndOneRightAndNothingOutsideIt)
{
    EXPECT_EQ(ResultsGrid().rowCount(), 65534);
    EXPECT_EQ(ResultsGrid().columnCount(), 9);
    EXPECT_EQ(ResultsGrid(1, 1).rowCount() + ResultsGrid(1, 1).columnCount(), 0);
    ResultsGrid grid(6, 5);
    for (int row = 0; row < grid.rows(); ++row)
        for (int col = 0; col < grid.cols(); ++col)
            grid.setText(row, col, cellName(row, col));
    const int outside[][2] = {{-1, 0},      {0, -1},      {6, 0},           {0, 5},
                              {INT_MAX, 0}, {0, INT_MAX}, {INT_MIN, INT_MIN}};
    for (const auto &[row, col] : outside) {
        grid.setText(row, col, "x");
        EXPECT_EQ(grid.text(row, col), QString()) << row << "," << col;
    }
    for (int row : {-1, 6, INT_MAX, INT_MIN})
        grid.setRowTexts(row, {"x"});
    for (int r = 0; r < grid.rowCount(); ++r) {
        EXPECT_EQ(grid.headerData(r, Qt::Vertical).toString(), cellName(r + 1, 0));
        for (int c = 0; c < grid.columnCount(); ++c)
            EXPECT_EQ(grid.data(grid.index(r, c)).toString(), cellName(r + 1, c + 1));
    }
    for (int c = 0; c < grid.columnCount(); ++c)
        EXPECT_EQ(grid.headerData(c, Qt::Horizontal).toString(), cellName(0, c + 1));
    EXPECT_FALSE(grid.headerData(4, Qt::Horizontal).isValid());
    EXPECT_FALSE(grid.headerData(5, Qt::Vertical).isValid());
}

QStringList modelTesterComplaints;

void collectComplaint(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        modelTesterComplaints.append(QString::fromUtf8(context.category) + ": " + text);
}

TEST(ResultsGridModel, ModelTesterFindsNoFaultThroughFillsClearsAndResizes)
{
    const QtMessageHandler previous = qInstallMessageHandler(&collectComplaint);
    {
        ResultsGrid grid;
        fillLog(grid);
        QAbstractItemModelTester tester(&grid,
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
        {
            ResultsGrid::BulkUpdate bulk(grid);
            grid.clear();
            fillLog(grid);
        }
        grid.setCols(4);
        grid.setColWidthTwips(0, 1200);
        grid.beginBulkUpdate(); // changes pending beyond the new end must not be announced
        grid.setText(3, 2, "kept");
        grid.setText(59, 3, "dropped");
        grid.setRows(30);
        grid.endBulkUpdate();
        grid.clear();
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(modelTesterComplaints.isEmpty()) << modelTesterComplaints.join('\n').toStdString();
}

TEST(ResultsGridSignals, AWriteAnnouncesJustTheModelCellOrHeaderSectionShowingIt)
{
    // The corner cell (0, 0) shows nowhere, nor does a cell outside the grid.
    const std::pair<std::pair<int, int>, const char *> cases[] = {
        {{3, 4}, "cells 2,3-2,3"}, {{65534, 9}, "cells 65533,8-65533,8"}, {{0, 4}, "columns 3-3"},
        {{8, 0}, "rows 7-7"},      {{0, 0}, ""}, {{65535, 1}, ""}, {{1, 10}, ""}};
    for (const auto &[cell, expected] : cases) {
        ResultsGrid grid;
        Notices notices(grid);
        grid.setText(cell.first, cell.second, "x");
        grid.setText(cell.first, cell.second, "x"); // no change, no notice
        EXPECT_EQ(notices.take(), expected) << cell.first << "," << cell.second;
    }
    ResultsGrid grid;
    Notices notices(grid);
    grid.setRowTexts(12, logRow(12));
    EXPECT_EQ(notices.take(), "rows 11-11; cells 11,0-11,8");
}

TEST(ResultsGridSignals, BulkUpdatesHoldNoticesBackUntilTheOutermostEndsThenSendTheirBounds)
{
    ResultsGrid grid;
    Notices notices(grid);
    {
        ResultsGrid::BulkUpdate outer(grid);
        grid.beginBulkUpdate();
        grid.setText(9, 2, "a");
        grid.endBulkUpdate();
        grid.setText(2, 5, "b");
        grid.setText(5, 3, "c"); // inside what the first two span
        EXPECT_EQ(notices.take(), "");
    }
    EXPECT_EQ(notices.take(), "cells 1,1-8,4");

    grid.beginBulkUpdate();
    grid.clear();
    fillLog(grid);
    grid.setText(0, 3, "Time");
    grid.flushChanges();
    EXPECT_EQ(notices.take(), "columns 0-8; rows 0-65533; cells 0,0-65533,8");
    grid.flushChanges();
    grid.setText(20, 1, "b");
    EXPECT_EQ(notices.take(), "");
    grid.endBulkUpdate();
    grid.endBulkUpdate(); // unmatched: harmless
    grid.setText(1, 1, "c");
    EXPECT_EQ(notices.take(), "cells 19,0-19,0; cells 0,0-0,0");
}

#if defined(HEAP_USE_KNOWN)
TEST(ResultsGridMemory, AFullSizeGridTakesNextToNoMemoryEmptyAndAFewHundredBytesARowFull)
{
    // Bytes handed out by malloc and not yet freed, big mmap-ed blocks included.
    const auto heapInUse = [] {
        const struct mallinfo2 info = mallinfo2();
        return static_cast<long long>(info.uordblks + info.hblkhd);
    };
    const long long before = heapInUse();
    auto grid = std::make_unique<ResultsGrid>();
    grid->setText(65534, 9, QString());
    EXPECT_LT(heapInUse() - before, 16 * 1024);
    fillLog(*grid);
    EXPECT_LT(heapInUse() - before, 65533LL * 320);
    EXPECT_GT(heapInUse() - before, 65533LL * 80);
    grid->clear();
    EXPECT_LT(heapInUse() - before, 16 * 1024);
}
#endif

} // namespace
} // namespace ostrand
