#include "download/log_decoder.h"
#include "download/channel_name.h"
#include "download/meter_float.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <clocale>
#include <string>

// Failures show texts rather than their UTF-16 units.
static void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace ostrand {
namespace {

constexpr quint32 k100 = 0x42C80000;

int bcd(int value)
{
    return (value / 10) << 4 | value % 10;
}

// A log record as the meter writes it; `year` 2000 to 2031.
QByteArray record(int channel, int year, int month, int day, int hour, int minute,
                  quint32 value = k100)
{
    const int y = year - 2000;
    const char bytes[8] = {char(channel << 4 | month),
                           char((y >> 3) << 6 | bcd(day)),
                           char((y >> 1 & 3) << 6 | bcd(hour)),
                           char((y & 1) << 7 | bcd(minute)),
                           char(value >> 24),
                           char(value >> 16),
                           char(value >> 8),
                           char(value)};
    return QByteArray(bytes, 8);
}

QByteArray raw(std::initializer_list<int> bytes)
{
    QByteArray data;
    for (const int b : bytes)
        data.append(char(b));
    return data;
}

struct Decoding : ::testing::Test {
    ResultsGrid grid;
    GridState state;
    void decode(const QByteArray &data) { EXPECT_TRUE(decodeLogBlock(data, grid, state)); }
    QString cell(int row, int col) const { return grid.text(row, col); }
};

// clang-format off
TEST(MeterFloatDecoding, DecodesTheMetersFloatsAndHoldsThemWithinItsLimits)
{
    const struct {
        int b1, b2, b3, b4;
        double expected;
    } cases[] = {
        {0x3F, 0xC0, 0, 0, 1.5},   {0x41, 0x20, 0, 0, 10},         {0xC2, 0xC8, 0, 0, -100},
        {0, 0, 0, 0, 0},           {0x00, 0xFF, 0xFF, 0xFF, 0},     {0x00, 0x80, 0, 0, 0},
        {0x80, 0, 0, 0, -1e-37},   {0x01, 0x00, 0, 0, 0x1p-125},    {0x3D, 0xCC, 0xCC, 0xCD, double(0.1f)},
        {0x7E, 0x00, 0, 0, 1e37},  {0x7F, 0x7F, 0xFF, 0xFF, 1e37},  {0xFF, 0x80, 0, 0, -1e37},
        {0xFE, 0x00, 0, 0, -0x1p125}};
    for (const auto &c : cases)
        EXPECT_EQ(decodeMeterFloat(c.b1, c.b2, c.b3, c.b4), c.expected)
            << std::hex << c.b1 << ' ' << c.b2 << ' ' << c.b3 << ' ' << c.b4;
}

TEST(ValueText, WritesUpTo15SignificantDigitsAndSwitchesToExponentsOutsideThatRange)
{
    const std::pair<double, const char *> cases[] = {
        {100, "100"},             {-100, "-100"},         {1.5, "1.5"},       {0.25, "0.25"},
        {-0.5, "-0.5"},           {0, "0"},               {1e37, "1E+37"},    {-1e-37, "-1E-37"},
        {2.5e-5, "2.5E-05"},      {0.0001, "0.0001"},     {1e15, "1E+15"},    {12345678.9, "12345678.9"},
        {123456789012345, "123456789012345"},             {2.0 / 3, "0.666666666666667"},
        {double(0.1f), "0.100000001490116"}};
    for (const auto &[value, text] : cases)
        EXPECT_EQ(valueText(value), text) << value;
}
// clang-format on

TEST(ValueText, WritesTotalsRoundedDown)
{
    const std::pair<double, const char *> cases[] = {
        {12345.9, "12345"}, {-0.5, "-1"}, {7, "7"}, {-1e-37, "-1"}, {1e37, "1E+37"}};
    for (const auto &[value, text] : cases)
        EXPECT_EQ(totalValueText(value), text) << value;
}

TEST(ChannelName, DropsErasedBytesAndKeepsEveryOtherCharacter)
{
    EXPECT_EQ(cleanChannelName(QByteArray("Flow") + QByteArray(12, char(0xFF))), "Flow");
    EXPECT_EQ(cleanChannelName(QByteArray("D\xE9\xFE"
                                          "bit\xFF 2")),
              QString::fromUtf8("Débit 2"));
    EXPECT_EQ(cleanChannelName(QString::fromUtf8("Lev\u00FEel\u00FF \u20AC")), "Level \u20AC");
}

TEST(StampText, WritesUsEnglishStampsAndTheDateAloneAtMidnight)
{
    const std::pair<QTime, const char *> cases[] = {
        {QTime(14, 30), "3/15/2004 2:30:00 PM"},  {QTime(9, 5), "3/15/2004 9:05:00 AM"},
        {QTime(12, 0), "3/15/2004 12:00:00 PM"},  {QTime(0, 1), "3/15/2004 12:01:00 AM"},
        {QTime(23, 59), "3/15/2004 11:59:00 PM"}, {QTime(0, 0), "3/15/2004"}};
    for (const auto &[time, text] : cases)
        EXPECT_EQ(stampText(QDate(2004, 3, 15), time), text) << text;
    EXPECT_EQ(stampText(QDate(2031, 12, 1), QTime(10, 0)), "12/1/2031 10:00:00 AM");
}

TEST_F(Decoding, TheWorkedRecordBeginsRowTwo)
{
    const QByteArray worked = raw({0x14, 0x15, 0x09, 0x30, 0x42, 0xC8, 0x00, 0x00});
    ASSERT_EQ(record(1, 2000, 4, 15, 9, 30), worked);
    decode(worked);
    EXPECT_EQ(state.lastGridRow, 2);
    EXPECT_EQ(grid.rowTexts(2).mid(0, 4), QStringList({"1", "4/15/2000 9:30:00 AM", "100", ""}));
    EXPECT_TRUE(state.channelInUse[1]);
}

TEST_F(Decoding, RecordsThatCannotBeDatedAreSkippedButMarkTheirChannelInUse)
{
    const std::pair<const char *, QByteArray> cases[] = {
        {"0xFF in byte 2", raw({0x34, 0xFF, 0x09, 0x30, 0x42, 0xC8, 0, 0})},
        {"0xFF in byte 3", raw({0x34, 0x15, 0xFF, 0x30, 0x42, 0xC8, 0, 0})},
        {"0xFF in byte 4", raw({0x34, 0x15, 0x09, 0xFF, 0x42, 0xC8, 0, 0})},
        {"day digit above 9", raw({0x34, 0x1A, 0x09, 0x30, 0x42, 0xC8, 0, 0})},
        {"day 0", record(3, 2004, 4, 0, 9, 30)},
        {"February 30", record(3, 2004, 2, 30, 9, 30)},
        {"February 29 of 2005", record(3, 2005, 2, 29, 9, 30)},
        {"month 0", record(3, 2004, 0, 15, 9, 30)},
        {"month 13", record(3, 2004, 13, 15, 9, 30)},
        {"hour 24", record(3, 2004, 4, 15, 24, 0)},
        {"minute 60", record(3, 2004, 4, 15, 9, 60)},
        {"minute digit above 9", raw({0x34, 0x15, 0x09, 0x2A, 0x42, 0xC8, 0, 0})}};
    for (const auto &[what, bytes] : cases) {
        ResultsGrid grid;
        GridState state;
        decodeLogBlock(bytes, grid, state);
        EXPECT_EQ(state.lastGridRow, 1) << what;
        EXPECT_EQ(grid.lastUsedRow(), -1) << what;
        EXPECT_TRUE(state.channelInUse[3]) << what;
    }
}

TEST_F(Decoding, RecordsWithoutAChannelOneToEightAreSkippedAndMarkNothing)
{
    for (const int channel : {0, 9, 10, 11, 12, 13, 14, 15})
        decode(record(channel, 2004, 4, 15, 9, 30));
    decode(QByteArray(8, char(0xFF)));
    EXPECT_EQ(state.lastGridRow, 1);
    EXPECT_EQ(grid.lastUsedRow(), -1);
    EXPECT_EQ(state.channelInUse, GridState().channelInUse);
}

TEST_F(Decoding, AnErasedByteInTheValueDoesNotStopTheRecord)
{
    decode(raw({0x14, 0x15, 0x09, 0x30, 0x42, 0xFF, 0x00, 0x00}) + QByteArray(5, 'x'));
    EXPECT_EQ(cell(2, 2), "127.5");
    EXPECT_EQ(state.lastGridRow, 2);
}

TEST_F(Decoding, EachInstantGetsOneRowAcrossBlocksAndALaterValueReplacesAnEarlierOne)
{
    decode(record(1, 2004, 5, 2, 10, 0, 0x3FC00000) + record(2, 2004, 5, 2, 10, 0) +
           record(3, 2004, 5, 2, 10, 0, 0x41200000) + record(1, 2004, 5, 2, 10, 15));
    decode(record(2, 2004, 5, 2, 10, 15, 0xC2C80000) + record(3, 2004, 5, 2, 10, 15));
    decode(record(3, 2004, 5, 2, 10, 15, 0x41200000));
    EXPECT_EQ(state.lastGridRow, 3);
    EXPECT_EQ(grid.rowTexts(2).mid(0, 5),
              QStringList({"1", "5/2/2004 10:00:00 AM", "1.5", "100", "10"}));
    EXPECT_EQ(grid.rowTexts(3).mid(0, 5),
              QStringList({"2", "5/2/2004 10:15:00 AM", "100", "-100", "10"}));
}

TEST_F(Decoding, RecordsADayApartAtTheSameMinuteBeginSeparateRows)
{
    decode(record(1, 2004, 5, 2, 10, 0) + record(1, 2004, 5, 3, 10, 0, 0x41200000));
    EXPECT_EQ(state.lastGridRow, 3);
    EXPECT_EQ(cell(2, 1), "5/2/2004 10:00:00 AM");
    EXPECT_EQ(cell(3, 1), "5/3/2004 10:00:00 AM");
    EXPECT_EQ(cell(3, 2), "10");
}

TEST_F(Decoding, AMidnightRecordIsDatedTheNextDayAndShowsTheDateAlone)
{
    decode(record(1, 2004, 3, 30, 23, 45) + record(1, 2004, 3, 31, 0, 0) +
           record(1, 2015, 12, 31, 0, 0));
    EXPECT_EQ(cell(2, 1), "3/30/2004 11:45:00 PM");
    EXPECT_EQ(cell(3, 1), "4/1/2004");
    EXPECT_EQ(cell(4, 1), "1/1/2016");
    EXPECT_EQ(state.lastRowStamp.date, QDate(2016, 1, 1));
}

TEST_F(Decoding, TheFiveYearBitsCountFrom2000To2031)
{
    for (const int year : {2000, 2001, 2002, 2008, 2015, 2016, 2024, 2031})
        decode(record(1, year, 7, 4, 8, 0));
    EXPECT_EQ(state.lastGridRow, 9);
    const char *stamps[] = {"7/4/2000", "7/4/2001", "7/4/2002", "7/4/2008",
                            "7/4/2015", "7/4/2016", "7/4/2024", "7/4/2031"};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(cell(i + 2, 1), QString(stamps[i]) + " 8:00:00 AM");
}

TEST_F(Decoding, TotalChannelsShowWholeNumbersRoundedDown)
{
    state.channelIsTotal[2] = true;
    decode(record(3, 2004, 5, 2, 10, 0, 0x4640E79A) + record(4, 2004, 5, 2, 10, 0, 0x4640E79A) +
           record(3, 2004, 5, 2, 10, 15, 0xBF000000));
    EXPECT_EQ(cell(2, 4), "12345");
    EXPECT_EQ(cell(2, 5), "12345.900390625");
    EXPECT_EQ(cell(3, 4), "-1");
}

TEST_F(Decoding, RowsPastTheGridsLastRowAreLeftOutAndDecodingGoesOn)
{
    state.lastGridRow = 65532;
    QByteArray block;
    for (int minute = 0; minute < 4; ++minute)
        block += record(1, 2004, 5, 2, 10, minute) + record(2, 2004, 5, 2, 10, minute);
    decode(block);
    EXPECT_EQ(state.lastGridRow, 65536);
    EXPECT_EQ(grid.lastUsedRow(), 65534);
    EXPECT_EQ(grid.rowTexts(65534).mid(0, 4),
              QStringList({"65533", "5/2/2004 10:01:00 AM", "100", "100"}));
    decode(record(3, 2004, 5, 2, 10, 3));
    EXPECT_TRUE(state.channelInUse[3]);
    EXPECT_EQ(grid.lastUsedRow(), 65534);
}

// The same block must give the same texts under any locale settings.
void expectUsEnglishTexts()
{
    ResultsGrid grid;
    GridState state;
    decodeLogBlock(record(1, 2004, 3, 15, 14, 30, 0x40200000) +
                       record(2, 2004, 3, 15, 14, 30, 0x49969B44) +
                       record(3, 2004, 3, 15, 14, 30, 0x3727C5AC),
                   grid, state);
    EXPECT_EQ(grid.rowTexts(2).mid(1, 4),
              QStringList({"3/15/2004 2:30:00 PM", "2.5", "1233768.5", "9.99999974737875E-06"}));
}

TEST(LocaleIndependence, TextsAreUsEnglishUnderAGermanDefaultLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    expectUsEnglishTexts();
    QLocale::setDefault(before);
}

TEST(LocaleIndependence, TextsAreUsEnglishUnderAGermanNumericCLocale)
{
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE"))
        GTEST_SKIP() << "no German locale installed";
    expectUsEnglishTexts();
    std::setlocale(LC_NUMERIC, before.c_str());
}

} // namespace
} // namespace ostrand
