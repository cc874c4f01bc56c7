#include "download/channel_name.h"
#include "download/log_decoder.h"
#include "download/meter_float.h"
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

TEST(ChannelName, DropsErasedBytesAndKeepsEveryOtherCharacter)
{
    EXPECT_EQ(cleanChannelName(QByteArray("Flow") + QByteArray(12, char(0xFF))), "Flow");
    EXPECT_EQ(cleanChannelName(QString::fromUtf8("D\u00E9\u00FEbit\u00FF \u20AC")), "D\u00E9bit \u20AC");
}

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
        state.channelIsTotal[4] = true; // channel 5 is never logged: its flag must not leak
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

// The same block must give the same texts under any locale settings.
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

} // namespace
} // namespace ostrand
