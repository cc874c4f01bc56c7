#include "download/log_decoder.h"
#include "download/log_pointers.h"
#include "download/time_left.h"
#include "fake_meter.h"
#include "qt_printers.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace ostrand {
namespace {

QByteArray rec(int channel, int year, int month, int day, int hour, int minute, float value = 100)
{
    return testing::FakeMeter::record(
        channel, QDateTime(QDate(year, month, day), QTime(hour, minute)), value);
}

QByteArray with(QByteArray record, int at, int byte)
{
    record[at] = char(byte);
    return record;
}

// clang-format off
// The grid's rows from row 2 to the last begun, record number to channel 4.
TEST(LogDecoding, BeginsARowWheneverDateOrTimeChangesAndSkipsWhatCannotBeDated)
{
    const struct { const char *what; std::vector<QByteArray> blocks; QStringList rows; } cases[] = {
        {"the worked record", {QByteArray::fromHex("1415093042C80000")}, {"1,4/15/2000 9:30:00 AM,100,,,"}},
        {"one row an instant, across blocks; a later value replaces",
         {rec(1, 2004, 5, 2, 10, 0, 1.5) + rec(2, 2004, 5, 2, 10, 0) + rec(1, 2004, 5, 2, 10, 15),
          rec(2, 2004, 5, 2, 10, 15, -100) + rec(3, 2004, 5, 2, 10, 15), rec(3, 2004, 5, 2, 10, 15, 10)},
         {"1,5/2/2004 10:00:00 AM,1.5,100,,", "2,5/2/2004 10:15:00 AM,100,-100,10,"}},
        {"a daily log: a day apart at the same minute",
         {rec(1, 2004, 5, 2, 10, 0) + rec(1, 2004, 5, 3, 10, 0, 10) + rec(1, 2004, 6, 3, 10, 0, 10)},
         {"1,5/2/2004 10:00:00 AM,100,,,", "2,5/3/2004 10:00:00 AM,10,,,", "3,6/3/2004 10:00:00 AM,10,,,"}},
        {"midnight dates the next day",
         {rec(1, 2004, 3, 30, 23, 45) + rec(1, 2004, 3, 31, 0, 0) + rec(1, 2015, 12, 31, 0, 0)},
         {"1,3/30/2004 11:45:00 PM,100,,,", "2,4/1/2004,100,,,", "3,1/1/2016,100,,,"}},
        {"noon, past midnight and the year bits",
         {rec(1, 2001, 7, 4, 12, 0) + rec(1, 2002, 7, 4, 0, 1) + rec(1, 2008, 7, 4, 9, 5) + rec(1, 2031, 7, 4, 8, 0)},
         {"1,7/4/2001 12:00:00 PM,100,,,", "2,7/4/2002 12:01:00 AM,100,,,", "3,7/4/2008 9:05:00 AM,100,,,",
          "4,7/4/2031 8:00:00 AM,100,,,"}},
        {"an erased byte in the value is no erased record", {with(rec(1, 2004, 5, 2, 10, 0), 5, 0xFF)},
         {"1,5/2/2004 10:00:00 AM,127.5,,,"}},
        {"records that cannot be dated, or of no channel, and a short tail",
         {with(rec(3, 2005, 2, 15, 9, 30), 1, 0x29) + with(rec(3, 2004, 4, 15, 9, 30), 0, 0x3D) +
              with(rec(3, 2004, 4, 15, 9, 30), 2, 0x24) + with(rec(3, 2004, 4, 15, 9, 30), 3, 0x2A) +
              with(rec(1, 2004, 4, 15, 9, 30), 0, 0x94) + QByteArray(8, char(0xFF)) + rec(2, 2004, 4, 15, 9, 45) + "shor"},
         {"1,4/15/2004 9:45:00 AM,,100,,"}},
    };
    for (const auto &c : cases) {
        ResultsGrid grid;
        GridState state;
        state.channel(5).total = true; // channel 5 is never logged: its flag must not leak
        for (const QByteArray &block : c.blocks)
            EXPECT_TRUE(decodeLogBlock(block, grid, state));
        QStringList rows;
        for (int r = 2; r <= state.lastGridRow; ++r)
            rows << grid.rowTexts(r).mid(0, 6).join(',');
        EXPECT_EQ(rows, c.rows) << c.what;
        EXPECT_EQ(grid.lastUsedRow(), state.lastGridRow > 1 ? state.lastGridRow : -1) << c.what;
    }
}
// clang-format on

TEST(LogDecoding, TextsAreUsEnglishUnderAGermanDefaultAndNumericLocale)
{
    const QLocale before;
    const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const bool german =
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "de_DE");
    ResultsGrid grid;
    GridState state;
    decodeLogBlock(rec(1, 2004, 3, 15, 14, 30, 2.5) + rec(2, 2004, 3, 15, 14, 30, 1233768.5f) +
                       rec(3, 2004, 3, 15, 14, 30, 1e-5f),
                   grid, state);
    QLocale::setDefault(before);
    std::setlocale(LC_NUMERIC, numeric.c_str());
    EXPECT_EQ(grid.rowTexts(2).mid(1, 4),
              QStringList({"3/15/2004 2:30:00 PM", "2.5", "1233768.5", "9.99999974737875E-06"}))
        << (german ? "" : "no German C locale installed; Qt's locale alone was German");
}

// Two keepers' cursors: reading on from the chosen one leaves neither a record short.
TEST(LogCursors, TheEarlierOfTwoIsTheOneNearerTheStartRoundTheRingOrOneTheLogNoLongerHolds)
{
    const auto at = [](int bank, int page, int offset) { return LogCursor{{bank, page, offset}, QByteArray(8, 'r')}; };
    const LogPointers plain{{}, {8, 0x80, 0}, {8, 0x90, 0}};
    const LogPointers wrapped{{}, {0x10, 0x80, 0}, {9, 0x80, 0}}; // banks 0x10 to 23, then 8 and 9
    const struct {
        const char *what;
        LogPointers pointers;
        LogCursor a, b;
        bool first; // the first one is the earlier
    } cases[] = {
        {"both held, the second earlier", plain, at(8, 0x85, 0), at(8, 0x82, 0x10), false},
        {"both held, the first earlier", plain, at(8, 0x81, 0x08), at(8, 0x8F, 0xF8), true},
        {"the same record", plain, at(8, 0x85, 0), at(8, 0x85, 0), true},
        {"wrapped: a low address past the ring's turn is later", wrapped, at(8, 0x90, 0), at(0x12, 0x80, 0), false},
        {"wrapped: the first before the turn", wrapped, at(0x17, 0xBF, 0xF8), at(8, 0x80, 0), true},
        {"the second beyond the end: overwritten or reset", plain, at(8, 0x85, 0), at(8, 0xA0, 0), false},
        {"the first at the end pointer, a slot not yet written", plain, at(8, 0x90, 0), at(8, 0x80, 0), true},
        {"the second outside the log area", plain, at(8, 0x85, 0), at(2, 0x80, 0), false},
    };
    for (const auto &c : cases) {
        const LogCursor &earlier = earlierCursor(c.a, c.b, c.pointers);
        EXPECT_EQ(&earlier, c.first ? &c.a : &c.b) << c.what;
    }
}

TEST(TimeLeft, comesFromTheSmoothedRateOfTheBlocksOnceThereAreACoupleOfThemAndIsWordedToAsMuchAsALineKeepsTo)
{
    const double kNone = -1;
    const std::pair<std::vector<std::pair<double, double>>, double> rows[] = { // (seconds, fraction done)..., left
        {{{1, 0.1}, {2, 0.2}}, kNone},
        {{{1, 0.1}, {2, 0.2}, {3, 0.3}}, 7.0},
        {{{1, 0.1}, {2, 0.2}, {3, 0.3}, {8, 0.4}}, 0.6 / 0.08}, // a slow block counts a quarter
        {{{1, 0.5}, {2, 0.9}, {3, 1.2}}, 0.0},                  // past the end: never negative
        {{{1, 0.1}, {1, 0.2}, {1, 0.3}}, kNone},                // no time passed: no rate
    };
    for (const auto &[blocks, left] : rows) {
        TimeLeftEstimate estimate;
        for (const auto &[seconds, fraction] : blocks)
            estimate.blockRead(seconds, fraction);
        EXPECT_NEAR(estimate.secondsLeft().value_or(kNone), left, 1e-9) << blocks.size();
    }
    const std::pair<std::optional<double>, const char *> words[] = {
        {std::nullopt, ""}, {9.9, "a few seconds left"}, {44, "about 40 s left"}, {55, "about 1 min left"},
        {150, "about 3 min left"}, {5399, "about 90 min left"}, {5400, "about 1 h 30 min left"}, {7320, "about 2 h left"},
    };
    for (const auto &[seconds, text] : words)
        EXPECT_EQ(timeLeftText(seconds), QString::fromLatin1(text)) << seconds.value_or(-1);
}

} // namespace
} // namespace ostrand
