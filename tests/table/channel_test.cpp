#include "qt_printers.h"
#include "table/channel.h"
#include "table/channel_name.h"
#include "table/meter_float.h"

#include <gtest/gtest.h>

#include <tuple>
#include "table/results_grid.h"
#include "table/results_table_model.h"
#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <climits>
#include <functional>

namespace ostrand {
namespace {

// What a channel holds after taking a label, from a channel an earlier
// download left in use as a total.
struct Taken {
    bool taken, inUse, total;
};

// clang-format off
TEST(Channel, TakesALabelCleanOfErasedBytesByTheNotUsedRuleOfItsSourceAndKeepsEarlierFlagsForAnEmptyOne)
{
    const struct { const char *text; Taken meter, palm; } cases[] = {
        {"Flow",        {true, true, false},  {true, true, false}},
        {"Flow Tot",    {true, true, true},   {true, true, true}},
        {"Totalizer",   {true, true, true},   {true, true, true}},
        {"flow total",  {true, true, false},  {true, true, false}},
        {"Not Used",    {false, false, true}, {false, false, true}},
        {"Not Used  ",  {true, true, false},  {false, false, true}},
        {"Not Used 2",  {true, true, false},  {false, false, true}},
        {"Not Use",     {true, true, false},  {true, true, false}},
        {"not used",    {true, true, false},  {true, true, false}},
        {" Not Used",   {true, true, false},  {true, true, false}},
        {"",            {false, true, true},  {false, true, true}},
    };
    // A name drops its erased bytes and keeps every other character.
    EXPECT_EQ(cleanChannelName(QByteArray("Flow") + QByteArray(12, char(0xFF))), "Flow");
    EXPECT_EQ(cleanChannelName(QString::fromUtf8("D\u00E9\u00FEbit\u00FF \u20AC")), "D\u00E9bit \u20AC");
    for (const auto &c : cases) {
        const QString text = QString::fromLatin1(c.text);
        EXPECT_EQ(meterLabelMeansNotUsed(text), !c.meter.inUse) << c.text;
        EXPECT_EQ(palmLabelMeansNotUsed(text), !c.palm.inUse) << c.text;
        for (const bool fromMeter : {true, false}) {
            Channel channel{QString(), true, true};
            const bool taken = fromMeter ? channel.takeMeterLabel(text) : channel.takePalmLabel(text);
            const Taken &want = fromMeter ? c.meter : c.palm;
            EXPECT_EQ(std::make_tuple(taken, channel.inUse, channel.total),
                      std::make_tuple(want.taken, want.inUse, want.total))
                << c.text << (fromMeter ? " from the meter" : " from the handheld");
            EXPECT_EQ(channel.label, want.taken ? text : QString()) << c.text;
        }
    }
}

TEST(Channel, NamesTheUnitItsLabelEndsWith)
{
    const struct { const char *label, *unit; } cases[] = {
        {"Flow (GPM)", "GPM"},   {"Flow ( m3/h )", "m3/h"}, {" Level ft ", "ft"},
        {"Total Gal", "Gal"},    {"Head m3", "m3"},         {"Flow", ""},
        {"Channel 3", ""},       {"Pressure Pascal", ""},   {"Flow ()", ""},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Channel{QString::fromLatin1(c.label)}.unit(), QString::fromLatin1(c.unit)) << c.label;
}
// clang-format on

// clang-format off
TEST(MeterFloat, DecodesTheMetersFloatsWithinItsLimitsAndWritesThemAsUsEnglishText)
{
    const struct { int b1, b2, b3, b4; double value; const char *text, *total; } cases[] = {
        {0x3F, 0xC0, 0, 0, 1.5, "1.5", "1"},          {0x41, 0x20, 0, 0, 10, "10", "10"},
        {0xC2, 0xC8, 0, 0, -100, "-100", "-100"},      {0, 0, 0, 0, 0, "0", "0"},
        {0x00, 0xFF, 0xFF, 0xFF, 0, "0", "0"},         {0x80, 0, 0, 0, -1e-37, "-1E-37", "-1"},
        {0x01, 0x00, 0, 0, 0x1p-125, "2.35098870164458E-38", "0"},
        {0x3D, 0xCC, 0xCC, 0xCD, double(0.1f), "0.100000001490116", "0"},
        {0x7E, 0x00, 0, 0, 1e37, "1E+37", "1E+37"},   {0x7F, 0x7F, 0xFF, 0xFF, 1e37, "1E+37", "1E+37"},
        {0xFF, 0x80, 0, 0, -1e37, "-1E+37", "-1E+37"}, {0xFE, 0x00, 0, 0, -0x1p125, "-4.25352958651173E+37", "-4.25352958651173E+37"},
        {0xBF, 0x00, 0, 0, -0.5, "-0.5", "-1"},        {0x46, 0x40, 0xE7, 0x9A, 12345.900390625, "12345.900390625", "12345"},
        {0x37, 0xD1, 0xB7, 0x17, double(2.5e-5f), "2.49999993684469E-05", "0"},
        {0x38, 0xD1, 0xB7, 0x17, double(1e-4f), "9.99999974737875E-05", "0"},
    };
    for (const auto &c : cases) {
        const double value = decodeMeterFloat(c.b1, c.b2, c.b3, c.b4);
        EXPECT_EQ(value, c.value) << std::hex << c.b1 << ' ' << c.b2 << ' ' << c.b3 << ' ' << c.b4;
        EXPECT_EQ(valueText(value), c.text);
        EXPECT_EQ(totalValueText(value), c.total) << c.text;
    }
    const std::pair<double, const char *> texts[] = {
        {0.25, "0.25"}, {0.0001, "0.0001"}, {1e15, "1E+15"}, {12345678.9, "12345678.9"},
        {123456789012345, "123456789012345"}, {2.0 / 3, "0.666666666666667"}};
    for (const auto &[value, text] : texts)
        EXPECT_EQ(valueText(value), text);
}
// clang-format on

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
