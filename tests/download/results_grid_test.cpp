#include "download/results_grid.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>
#include <gtest/gtest.h>

#include <climits>
#include <memory>

// Heap use is read from glibc's own books, which a sanitizer's allocator bypasses.
#if defined(__SANITIZE_ADDRESS__)
#define HEAP_USE_UNKNOWN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define HEAP_USE_UNKNOWN 1
#endif
#endif
#if defined(__GLIBC__) && !defined(HEAP_USE_UNKNOWN)
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
    QStringList texts{QString::number(record), QStringLiteral("12/06/2026"),
                      QStringLiteral("13:45:00")};
    for (int channel = 0; channel < 7; ++channel)
        texts.append(QString::number(record * 0.001 + channel, 'f', 3));
    return texts;
}

void fillLog(ResultsGrid &grid)
{
    for (int row = 1; row < grid.rows(); ++row)
        grid.setRowTexts(row, logRow(row));
}

// ----------------------------------------------------------------------------
// Cells addressed by (row, column)

TEST(ResultsGridCells, NewGridHasTheDefaultSizeAndOnlyEmptyCells)
{
    ResultsGrid grid;
    EXPECT_EQ(grid.rows(), 65535);
    EXPECT_EQ(grid.cols(), 10);
    EXPECT_EQ(grid.text(0, 0), QString());
    EXPECT_EQ(grid.text(32767, 5), QString());
    EXPECT_EQ(grid.text(65534, 9), QString());
    EXPECT_EQ(grid.lastUsedRow(), -1);
}

TEST(ResultsGridCells, TextWrittenToACellIsReadBackFromThatCellOnly)
{
    ResultsGrid grid;
    grid.setText(5, 3, QStringLiteral("123.456"));
    EXPECT_EQ(grid.text(5, 3), QStringLiteral("123.456"));
    EXPECT_EQ(grid.text(5, 2), QString());
    EXPECT_EQ(grid.text(5, 4), QString());
    EXPECT_EQ(grid.text(4, 3), QString());
    EXPECT_EQ(grid.text(6, 3), QString());
}

TEST(ResultsGridCells, EveryCornerOfTheGridHoldsItsOwnText)
{
    ResultsGrid grid;
    grid.setText(0, 0, QStringLiteral("Record"));
    grid.setText(0, 9, QStringLiteral("top right"));
    grid.setText(65534, 0, QStringLiteral("65534"));
    grid.setText(65534, 9, QStringLiteral("bottom right"));
    EXPECT_EQ(grid.text(0, 0), QStringLiteral("Record"));
    EXPECT_EQ(grid.text(0, 9), QStringLiteral("top right"));
    EXPECT_EQ(grid.text(65534, 0), QStringLiteral("65534"));
    EXPECT_EQ(grid.text(65534, 9), QStringLiteral("bottom right"));
}

TEST(ResultsGridCells, RewritingACellReplacesItsText)
{
    ResultsGrid grid;
    grid.setText(2, 2, QStringLiteral("first"));
    grid.setText(2, 2, QStringLiteral("second"));
    EXPECT_EQ(grid.text(2, 2), QStringLiteral("second"));
    grid.setText(2, 2, QString());
    EXPECT_EQ(grid.text(2, 2), QString());
}

TEST(ResultsGridCells, RewritingOneCellLeavesTheRestOfItsRowIntact)
{
    ResultsGrid grid;
    grid.setRowTexts(4, logRow(4));
    QStringList expected = logRow(4);
    grid.setText(4, 5, QStringLiteral("a much longer reading than before"));
    expected[5] = QStringLiteral("a much longer reading than before");
    EXPECT_EQ(grid.rowTexts(4), expected);
    grid.setText(4, 0, QString());
    expected[0] = QString();
    EXPECT_EQ(grid.rowTexts(4), expected);
    grid.setText(4, 9, QStringLiteral("9"));
    expected[9] = QStringLiteral("9");
    EXPECT_EQ(grid.rowTexts(4), expected);
}

TEST(ResultsGridCells, TextsOfAnyLengthAndCharacterComeBackUnchanged)
{
    ResultsGrid grid;
    const QString withNul = QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b");
    const QString nonLatin = QStringLiteral("\u00b0C \u03bc\u00b5 \U0001F30A");
    const QString huge(100000, QLatin1Char('7'));
    grid.setText(2, 0, withNul);
    grid.setText(2, 4, nonLatin);
    grid.setText(2, 9, huge);
    EXPECT_EQ(grid.text(2, 0), withNul);
    EXPECT_EQ(grid.text(2, 1), QString());
    EXPECT_EQ(grid.text(2, 4), nonLatin);
    EXPECT_EQ(grid.text(2, 8), QString());
    EXPECT_EQ(grid.text(2, 9), huge);
}

TEST(ResultsGridCells, WritesOutsideTheGridAreIgnored)
{
    ResultsGrid grid;
    const int outside[][2] = {{-1, 0},      {0, -1},      {65535, 0},        {0, 10},
                              {INT_MAX, 0}, {0, INT_MAX}, {INT_MIN, INT_MIN}};
    for (const auto &cell : outside)
        grid.setText(cell[0], cell[1], QStringLiteral("x"));
    for (int row : {-1, 65535, INT_MAX, INT_MIN})
        grid.setRowTexts(row, {QStringLiteral("x")});
    EXPECT_EQ(grid.lastUsedRow(), -1);
    EXPECT_EQ(grid.rows(), 65535);
    EXPECT_EQ(grid.cols(), 10);
}

TEST(ResultsGridCells, ReadsOutsideTheGridGiveEmptyText)
{
    ResultsGrid grid;
    fillLog(grid);
    EXPECT_EQ(grid.text(-1, 0), QString());
    EXPECT_EQ(grid.text(1, -1), QString());
    EXPECT_EQ(grid.text(65535, 0), QString());
    EXPECT_EQ(grid.text(1, 10), QString());
    EXPECT_EQ(grid.text(INT_MAX, INT_MAX), QString());
    EXPECT_EQ(grid.rowTexts(65535), QStringList(10, QString()));
}

TEST(ResultsGridCells, RowTextsFillFromColumnZeroAndItemsPastTheLastColumnAreDropped)
{
    ResultsGrid grid;
    QStringList twelve;
    for (int i = 0; i < 12; ++i)
        twelve.append(QString::number(i));
    grid.setRowTexts(7, twelve);
    EXPECT_EQ(grid.rowTexts(7), twelve.mid(0, 10));
    EXPECT_EQ(grid.text(8, 0), QString());
}

TEST(ResultsGridCells, ShortRowTextsLeaveTheLaterColumnsAsTheyWere)
{
    ResultsGrid grid;
    grid.setRowTexts(3, logRow(3));
    grid.setRowTexts(3, {QStringLiteral("a"), QStringLiteral("b")});
    QStringList expected = logRow(3);
    expected[0] = QStringLiteral("a");
    expected[1] = QStringLiteral("b");
    EXPECT_EQ(grid.rowTexts(3), expected);
}

TEST(ResultsGridCells, ClearEmptiesEveryCellButKeepsTheSizeAndColumnWidths)
{
    ResultsGrid grid;
    grid.setColWidthTwips(4, 2000);
    grid.setText(0, 0, QStringLiteral("Record"));
    fillLog(grid);
    grid.clear();
    EXPECT_EQ(grid.rows(), 65535);
    EXPECT_EQ(grid.cols(), 10);
    EXPECT_EQ(grid.colWidthTwips(4), 2000);
    EXPECT_EQ(grid.text(0, 0), QString());
    EXPECT_EQ(grid.text(1, 1), QString());
    EXPECT_EQ(grid.text(65534, 9), QString());
    EXPECT_EQ(grid.lastUsedRow(), -1);
    grid.setText(9, 9, QStringLiteral("again"));
    EXPECT_EQ(grid.text(9, 9), QStringLiteral("again"));
}

TEST(ResultsGridCells, LastUsedRowIsTheHighestRowStillHoldingText)
{
    ResultsGrid grid;
    grid.setText(0, 1, QStringLiteral("Date"));
    EXPECT_EQ(grid.lastUsedRow(), 0);
    grid.setText(40, 9, QStringLiteral("x"));
    grid.setText(41, 0, QStringLiteral("y"));
    EXPECT_EQ(grid.lastUsedRow(), 41);
    grid.setText(41, 0, QString());
    EXPECT_EQ(grid.lastUsedRow(), 40);
    grid.setRowTexts(40, QStringList(10, QString()));
    EXPECT_EQ(grid.lastUsedRow(), 0);
}

TEST(ResultsGridCells, ShrinkingDropsTheRowsBeyondTheNewEndForGood)
{
    ResultsGrid grid(100, 10);
    grid.setText(10, 1, QStringLiteral("kept"));
    grid.setText(50, 1, QStringLiteral("dropped"));
    grid.setRows(20);
    EXPECT_EQ(grid.rows(), 20);
    EXPECT_EQ(grid.text(10, 1), QStringLiteral("kept"));
    EXPECT_EQ(grid.text(50, 1), QString());
    EXPECT_EQ(grid.lastUsedRow(), 10);
    grid.setRows(100);
    EXPECT_EQ(grid.text(50, 1), QString());
    grid.setRows(-5);
    EXPECT_EQ(grid.rows(), 100);
}

TEST(ResultsGridCells, ChangingTheColumnCountKeepsTheColumnsThatRemain)
{
    ResultsGrid grid(10, 10);
    grid.setRowTexts(2, logRow(2));
    grid.setColWidthTwips(1, 1500);
    grid.setCols(4);
    EXPECT_EQ(grid.cols(), 4);
    EXPECT_EQ(grid.rowTexts(2), logRow(2).mid(0, 4));
    grid.setCols(6);
    EXPECT_EQ(grid.text(2, 3), logRow(2)[3]);
    EXPECT_EQ(grid.text(2, 4), QString());
    EXPECT_EQ(grid.colWidthTwips(1), 1500);
    EXPECT_EQ(grid.colWidthTwips(5), ResultsGrid::kDefaultColWidthTwips);
    grid.setText(2, 5, QStringLiteral("new"));
    EXPECT_EQ(grid.text(2, 5), QStringLiteral("new"));
}

TEST(ResultsGridCells, RowWhoseTextsWereAllInDroppedColumnsNoLongerCounts)
{
    ResultsGrid grid(10, 10);
    grid.setText(3, 1, QStringLiteral("kept"));
    grid.setText(6, 8, QStringLiteral("dropped"));
    grid.setCols(5);
    EXPECT_EQ(grid.lastUsedRow(), 3);
}

// ----------------------------------------------------------------------------
// Column widths

TEST(ResultsGridWidths, ColumnWidthIsKeptPerColumnInTwips)
{
    ResultsGrid grid;
    EXPECT_EQ(grid.colWidthTwips(3), ResultsGrid::kDefaultColWidthTwips);
    grid.setColWidthTwips(3, 1725);
    EXPECT_EQ(grid.colWidthTwips(3), 1725);
    EXPECT_EQ(grid.colWidthTwips(2), ResultsGrid::kDefaultColWidthTwips);
}

TEST(ResultsGridWidths, NegativeWidthRestoresTheDefault)
{
    ResultsGrid grid;
    grid.setColWidthTwips(1, 3000);
    grid.setColWidthTwips(1, -1);
    EXPECT_EQ(grid.colWidthTwips(1), ResultsGrid::kDefaultColWidthTwips);
}

TEST(ResultsGridWidths, WidthsOfColumnsOutsideTheGridAreZeroAndCannotBeSet)
{
    ResultsGrid grid;
    grid.setColWidthTwips(10, 500);
    grid.setColWidthTwips(-1, 500);
    EXPECT_EQ(grid.colWidthTwips(10), 0);
    EXPECT_EQ(grid.colWidthTwips(-1), 0);
    for (int col = 0; col < grid.cols(); ++col)
        EXPECT_EQ(grid.colWidthTwips(col), ResultsGrid::kDefaultColWidthTwips) << col;
}

TEST(ResultsGridWidths, TwipsBecomeThePixelsNearestAtFifteenPerPixel)
{
    EXPECT_EQ(ResultsGrid::twipsToPixels(0), 0);
    EXPECT_EQ(ResultsGrid::twipsToPixels(7), 0);
    EXPECT_EQ(ResultsGrid::twipsToPixels(8), 1);
    EXPECT_EQ(ResultsGrid::twipsToPixels(15), 1);
    EXPECT_EQ(ResultsGrid::twipsToPixels(1500), 100);
    EXPECT_EQ(ResultsGrid::twipsToPixels(1722), 115);
}

// ----------------------------------------------------------------------------
// The grid as a table model

TEST(ResultsGridModel, HeadingRowAndColumnAreNotModelCells)
{
    ResultsGrid grid;
    EXPECT_EQ(grid.rowCount(), 65534);
    EXPECT_EQ(grid.columnCount(), 9);
    ResultsGrid tiny(1, 1);
    EXPECT_EQ(tiny.rowCount(), 0);
    EXPECT_EQ(tiny.columnCount(), 0);
}

TEST(ResultsGridModel, ModelCellShowsTheGridCellOneDownAndOneRight)
{
    ResultsGrid grid(6, 5);
    for (int row = 0; row < grid.rows(); ++row)
        for (int col = 0; col < grid.cols(); ++col)
            grid.setText(row, col, cellName(row, col));
    for (int r = 0; r < grid.rowCount(); ++r)
        for (int c = 0; c < grid.columnCount(); ++c)
            EXPECT_EQ(grid.data(grid.index(r, c)).toString(), cellName(r + 1, c + 1));
}

TEST(ResultsGridModel, HeadingRowIsTheHorizontalHeader)
{
    ResultsGrid grid(6, 5);
    for (int col = 0; col < grid.cols(); ++col)
        grid.setText(0, col, cellName(0, col));
    for (int section = 0; section < grid.columnCount(); ++section)
        EXPECT_EQ(grid.headerData(section, Qt::Horizontal).toString(), cellName(0, section + 1));
}

TEST(ResultsGridModel, HeadingColumnIsTheVerticalHeader)
{
    ResultsGrid grid(6, 5);
    for (int row = 0; row < grid.rows(); ++row)
        grid.setText(row, 0, cellName(row, 0));
    for (int section = 0; section < grid.rowCount(); ++section)
        EXPECT_EQ(grid.headerData(section, Qt::Vertical).toString(), cellName(section + 1, 0));
}

TEST(ResultsGridModel, HorizontalHeaderWidthHintFollowsItsColumnWidth)
{
    ResultsGrid grid;
    grid.setColWidthTwips(3, 1500);
    const QSize hint = grid.headerData(2, Qt::Horizontal, Qt::SizeHintRole).toSize();
    EXPECT_EQ(hint.width(), 100);
    EXPECT_GT(hint.height(), 0);
    EXPECT_EQ(grid.headerData(3, Qt::Horizontal, Qt::SizeHintRole).toSize().width(), 64);
}

TEST(ResultsGridModel, VerticalHeaderWidthHintFollowsTheHeadingColumnWidth)
{
    ResultsGrid grid;
    grid.setColWidthTwips(0, 900);
    const QSize hint = grid.headerData(500, Qt::Vertical, Qt::SizeHintRole).toSize();
    EXPECT_EQ(hint.width(), 60);
    EXPECT_GT(hint.height(), 0);
}

TEST(ResultsGridModel, SectionsOutsideTheModelHaveNoHeaderData)
{
    ResultsGrid grid(6, 5);
    grid.setText(0, 4, QStringLiteral("last"));
    EXPECT_FALSE(grid.headerData(4, Qt::Horizontal).isValid());
    EXPECT_FALSE(grid.headerData(-1, Qt::Horizontal).isValid());
    EXPECT_FALSE(grid.headerData(5, Qt::Vertical).isValid());
    EXPECT_FALSE(grid.headerData(4, Qt::Horizontal, Qt::SizeHintRole).isValid());
}

TEST(ResultsGridModel, CellsHaveNoChildren)
{
    ResultsGrid grid(6, 5);
    const QModelIndex cell = grid.index(1, 1);
    EXPECT_EQ(grid.rowCount(cell), 0);
    EXPECT_EQ(grid.columnCount(cell), 0);
}

// Collects the model tester's complaints, which it reports as warnings.
class ModelTestWarnings {
public:
    ModelTestWarnings()
    {
        seen().clear();
        previous_ = qInstallMessageHandler(&ModelTestWarnings::collect);
    }
    ~ModelTestWarnings() { qInstallMessageHandler(previous_); }
    static QStringList &seen()
    {
        static QStringList messages;
        return messages;
    }

private:
    static void collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type != QtDebugMsg && type != QtInfoMsg)
            seen().append(QString::fromUtf8(context.category) + QStringLiteral(": ") + text);
    }
    QtMessageHandler previous_;
};

TEST(ResultsGridModel, ModelTesterFindsNoFaultThroughFillsClearsAndResizes)
{
    ModelTestWarnings warnings;
    ResultsGrid grid;
    fillLog(grid);
    for (int col = 0; col < grid.cols(); ++col)
        grid.setText(0, col, cellName(0, col));
    QAbstractItemModelTester tester(&grid, QAbstractItemModelTester::FailureReportingMode::Warning);
    grid.setText(0, 0, QStringLiteral("corner"));
    grid.setText(65534, 9, QStringLiteral("last"));
    {
        ResultsGrid::BulkUpdate bulk(grid);
        grid.clear();
        fillLog(grid);
        grid.setText(0, 5, QStringLiteral("heading"));
    }
    grid.setRows(60);
    grid.setCols(4);
    grid.setColWidthTwips(0, 1200);
    grid.setColWidthTwips(2, 1200);
    grid.beginBulkUpdate();
    grid.setText(59, 3, QStringLiteral("edge"));
    grid.setRows(30);
    grid.endBulkUpdate();
    grid.clear();
    EXPECT_TRUE(ModelTestWarnings::seen().isEmpty())
        << ModelTestWarnings::seen().join(QLatin1Char('\n')).toStdString();
}

// ----------------------------------------------------------------------------
// Change notices

struct Spies {
    explicit Spies(ResultsGrid &grid)
        : data(&grid, &QAbstractItemModel::dataChanged),
          header(&grid, &QAbstractItemModel::headerDataChanged),
          reset(&grid, &QAbstractItemModel::modelReset),
          layout(&grid, &QAbstractItemModel::layoutChanged)
    {
    }
    int total() const { return data.count() + header.count() + reset.count() + layout.count(); }
    QSignalSpy data;
    QSignalSpy header;
    QSignalSpy reset;
    QSignalSpy layout;
};

TEST(ResultsGridSignals, WritingACellAnnouncesJustThatModelCell)
{
    ResultsGrid grid;
    Spies spies(grid);
    grid.setText(3, 4, QStringLiteral("x"));
    ASSERT_EQ(spies.data.count(), 1);
    EXPECT_EQ(spies.data[0][0].toModelIndex(), grid.index(2, 3));
    EXPECT_EQ(spies.data[0][1].toModelIndex(), grid.index(2, 3));
    EXPECT_EQ(spies.total(), 1);
}

TEST(ResultsGridSignals, WritingTheHeadingRowAnnouncesAHorizontalHeaderSection)
{
    ResultsGrid grid;
    Spies spies(grid);
    grid.setText(0, 4, QStringLiteral("Flow"));
    ASSERT_EQ(spies.header.count(), 1);
    EXPECT_EQ(spies.header[0][0].value<Qt::Orientation>(), Qt::Horizontal);
    EXPECT_EQ(spies.header[0][1].toInt(), 3);
    EXPECT_EQ(spies.header[0][2].toInt(), 3);
    EXPECT_EQ(spies.total(), 1);
}

TEST(ResultsGridSignals, WritingTheHeadingColumnAnnouncesAVerticalHeaderSection)
{
    ResultsGrid grid;
    Spies spies(grid);
    grid.setText(8, 0, QStringLiteral("8"));
    ASSERT_EQ(spies.header.count(), 1);
    EXPECT_EQ(spies.header[0][0].value<Qt::Orientation>(), Qt::Vertical);
    EXPECT_EQ(spies.header[0][1].toInt(), 7);
    EXPECT_EQ(spies.header[0][2].toInt(), 7);
    EXPECT_EQ(spies.total(), 1);
}

TEST(ResultsGridSignals, WritingTheCornerCellAnnouncesNothingShown)
{
    ResultsGrid grid;
    Spies spies(grid);
    grid.setText(0, 0, QStringLiteral("Record"));
    EXPECT_EQ(spies.total(), 0);
}

TEST(ResultsGridSignals, WritingTheTextACellAlreadyHoldsAnnouncesNothing)
{
    ResultsGrid grid;
    grid.setText(3, 3, QStringLiteral("same"));
    Spies spies(grid);
    grid.setText(3, 3, QStringLiteral("same"));
    grid.setText(4, 4, QString());
    grid.setText(70000, 4, QStringLiteral("outside"));
    EXPECT_EQ(spies.total(), 0);
}

TEST(ResultsGridSignals, RowTextsAnnounceTheRowInOneNotice)
{
    ResultsGrid grid;
    Spies spies(grid);
    grid.setRowTexts(12, logRow(12));
    ASSERT_EQ(spies.data.count(), 1);
    EXPECT_EQ(spies.data[0][0].toModelIndex(), grid.index(11, 0));
    EXPECT_EQ(spies.data[0][1].toModelIndex(), grid.index(11, 8));
    ASSERT_EQ(spies.header.count(), 1);
    EXPECT_EQ(spies.header[0][0].value<Qt::Orientation>(), Qt::Vertical);
}

TEST(ResultsGridSignals, BulkFillOfTheWholeGridIsAnnouncedOnceWhenItEnds)
{
    ResultsGrid grid;
    Spies spies(grid);
    grid.beginBulkUpdate();
    grid.clear();
    for (int col = 0; col < grid.cols(); ++col)
        grid.setText(0, col, cellName(0, col));
    fillLog(grid);
    EXPECT_EQ(spies.total(), 0);
    grid.endBulkUpdate();

    ASSERT_EQ(spies.data.count(), 1);
    EXPECT_EQ(spies.data[0][0].toModelIndex(), grid.index(0, 0));
    EXPECT_EQ(spies.data[0][1].toModelIndex(), grid.index(65533, 8));
    ASSERT_EQ(spies.header.count(), 2);
    EXPECT_EQ(spies.total(), 3);
}

TEST(ResultsGridSignals, NestedBulkUpdatesAnnounceOnlyWhenTheOutermostEnds)
{
    ResultsGrid grid;
    Spies spies(grid);
    {
        ResultsGrid::BulkUpdate outer(grid);
        {
            ResultsGrid::BulkUpdate inner(grid);
            grid.setText(2, 2, QStringLiteral("a"));
        }
        EXPECT_TRUE(grid.inBulkUpdate());
        EXPECT_EQ(spies.total(), 0);
        grid.setText(9, 5, QStringLiteral("b"));
    }
    EXPECT_FALSE(grid.inBulkUpdate());
    ASSERT_EQ(spies.data.count(), 1);
    EXPECT_EQ(spies.data[0][0].toModelIndex(), grid.index(1, 1));
    EXPECT_EQ(spies.data[0][1].toModelIndex(), grid.index(8, 4));
}

TEST(ResultsGridSignals, FlushingDuringABulkUpdateAnnouncesWhatIsPendingOnce)
{
    ResultsGrid grid;
    Spies spies(grid);
    grid.beginBulkUpdate();
    grid.setText(5, 5, QStringLiteral("a"));
    grid.flushChanges();
    EXPECT_EQ(spies.data.count(), 1);
    grid.flushChanges();
    EXPECT_EQ(spies.data.count(), 1);
    grid.setText(20, 1, QStringLiteral("b"));
    grid.endBulkUpdate();
    ASSERT_EQ(spies.data.count(), 2);
    EXPECT_EQ(spies.data[1][0].toModelIndex(), grid.index(19, 0));
    EXPECT_EQ(spies.data[1][1].toModelIndex(), grid.index(19, 0));
}

TEST(ResultsGridSignals, ExtraEndBulkUpdateIsHarmless)
{
    ResultsGrid grid;
    grid.endBulkUpdate();
    EXPECT_FALSE(grid.inBulkUpdate());
    Spies spies(grid);
    grid.setText(1, 1, QStringLiteral("x"));
    EXPECT_EQ(spies.data.count(), 1);
}

TEST(ResultsGridSignals, ClearAnnouncesTheRowsThatHeldText)
{
    ResultsGrid grid;
    grid.setText(0, 3, QStringLiteral("Time"));
    grid.setText(30, 2, QStringLiteral("x"));
    Spies spies(grid);
    grid.clear();
    ASSERT_EQ(spies.data.count(), 1);
    EXPECT_EQ(spies.data[0][0].toModelIndex(), grid.index(0, 0));
    EXPECT_EQ(spies.data[0][1].toModelIndex(), grid.index(29, 8));
    EXPECT_EQ(spies.header.count(), 2);
}

TEST(ResultsGridSignals, ClearingAnEmptyGridAnnouncesNothing)
{
    ResultsGrid grid;
    Spies spies(grid);
    grid.clear();
    EXPECT_EQ(spies.total(), 0);
}

TEST(ResultsGridSignals, PendingChangesBeyondAShrunkGridAreNotAnnounced)
{
    ResultsGrid grid(100, 10);
    Spies spies(grid);
    grid.beginBulkUpdate();
    grid.setText(3, 3, QStringLiteral("kept"));
    grid.setText(90, 3, QStringLiteral("dropped"));
    grid.setRows(50);
    ASSERT_EQ(spies.reset.count(), 1);
    grid.endBulkUpdate();
    ASSERT_EQ(spies.data.count(), 1);
    EXPECT_TRUE(spies.data[0][1].toModelIndex().isValid());
    EXPECT_EQ(spies.data[0][1].toModelIndex().row(), 48);
}

TEST(ResultsGridSignals, ColumnWidthChangeAnnouncesItsHeaderSection)
{
    ResultsGrid grid;
    Spies spies(grid);
    grid.setColWidthTwips(6, 1800);
    ASSERT_EQ(spies.header.count(), 1);
    EXPECT_EQ(spies.header[0][0].value<Qt::Orientation>(), Qt::Horizontal);
    EXPECT_EQ(spies.header[0][1].toInt(), 5);
    grid.setColWidthTwips(0, 1800);
    ASSERT_EQ(spies.header.count(), 2);
    EXPECT_EQ(spies.header[1][0].value<Qt::Orientation>(), Qt::Vertical);
    grid.setColWidthTwips(0, 1800);
    EXPECT_EQ(spies.header.count(), 2);
}

// ----------------------------------------------------------------------------
// Cost of a full download

#if defined(HEAP_USE_KNOWN)
// Bytes handed out by malloc and not yet freed, big mmap-ed blocks included.
long long heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
}

TEST(ResultsGridCost, EmptyGridOfFullSizeTakesNextToNoMemory)
{
    const long long before = heapInUse();
    auto grid = std::make_unique<ResultsGrid>();
    grid->setText(65534, 9, QString());
    EXPECT_LT(heapInUse() - before, 16 * 1024);
}

TEST(ResultsGridCost, FullLogTakesAFewHundredBytesARow)
{
    ResultsGrid grid;
    const long long before = heapInUse();
    fillLog(grid);
    EXPECT_LT(heapInUse() - before, 65533LL * 320);
}

TEST(ResultsGridCost, ClearingAFullGridGivesItsMemoryBack)
{
    ResultsGrid grid;
    const long long before = heapInUse();
    fillLog(grid);
    EXPECT_GT(heapInUse() - before, 65533LL * 10 * 8);
    grid.clear();
    EXPECT_LT(heapInUse() - before, 16 * 1024);
}
#endif

TEST(ResultsGridCost, ClearingAndFillingAFullLogUnderAViewTakesWellUnderASecond)
{
    ResultsGrid grid;
    fillLog(grid);
    QTableView view;
    view.setModel(&grid);
    view.resize(800, 600);
    view.show();
    QCoreApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    {
        ResultsGrid::BulkUpdate bulk(grid);
        grid.clear();
        fillLog(grid);
    }
    QCoreApplication::processEvents();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(grid.text(65534, 0), QStringLiteral("65534"));
}

// ----------------------------------------------------------------------------
// A table view attached to the grid

TEST(ResultsGridView, ViewTakesColumnAndHeaderSizesFromTheGrid)
{
    ResultsGrid grid;
    QTableView view;
    view.setModel(&grid);
    grid.setColWidthTwips(2, 1800);
    grid.setColWidthTwips(0, 750);
    EXPECT_EQ(view.horizontalHeader()->sectionSizeHint(1), 120);
    EXPECT_EQ(view.horizontalHeader()->sectionSizeHint(0), 64);
    EXPECT_EQ(view.verticalHeader()->sizeHint().width(), 50);
    EXPECT_GT(view.horizontalHeader()->sizeHint().height(), 0);
}

TEST(ResultsGridView, ViewCatchesUpWithABulkFillWhenItEnds)
{
    ResultsGrid grid;
    QTableView view;
    view.setModel(&grid);
    view.horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view.resize(800, 600);
    view.show();
    QCoreApplication::processEvents();
    const int narrow = view.columnWidth(0);

    grid.beginBulkUpdate();
    grid.setText(1, 1, QString(60, QLatin1Char('W')));
    grid.setText(0, 2, QStringLiteral("Flow"));
    QCoreApplication::processEvents();
    EXPECT_EQ(view.columnWidth(0), narrow);
    grid.endBulkUpdate();
    QCoreApplication::processEvents();

    EXPECT_GT(view.columnWidth(0), narrow);
    EXPECT_EQ(view.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Flow"));
}

} // namespace
} // namespace ostrand
