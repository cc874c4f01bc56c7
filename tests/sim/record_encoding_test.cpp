#include "log_record.h"
#include "meter_float.h"
#include "reference_reader.h"

#include <gtest/gtest.h>

using namespace ostrand::sim;
using ostrand::sim::testing::decodeMeterFloat;
using ostrand::sim::testing::decodeRecord;

namespace {

template <std::size_t N> QByteArray bytesOf(const std::array<std::uint8_t, N> &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(N));
}

QDateTime at(int y, int mo, int d, int h, int mi)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC);
}

} // namespace

TEST(MeterFloat, EncodesExampleValuesReadsThemBackClampsAtTheLimitsAndNeverStoresANegativeZero)
{
    EXPECT_EQ(bytesOf(encodeMeterFloat(1.5)), QByteArray::fromHex("3FC00000"));
    EXPECT_EQ(bytesOf(encodeMeterFloat(10.0)), QByteArray::fromHex("41200000"));
    EXPECT_EQ(bytesOf(encodeMeterFloat(-100.0)), QByteArray::fromHex("C2C80000"));
    EXPECT_EQ(bytesOf(encodeMeterFloat(0.0)), QByteArray::fromHex("00000000"));
    for (const double value : {0.25, 3.14159, -2.5e-3, 12345.678, -7.75e20, 2.0e-30})
        EXPECT_EQ(decodeMeterFloat(bytesOf(encodeMeterFloat(value))), double(float(value)))
            << value;
    EXPECT_NEAR(decodeMeterFloat(bytesOf(encodeMeterFloat(5e38))), 1e37, 1e30);
    EXPECT_NEAR(decodeMeterFloat(bytesOf(encodeMeterFloat(-5e38))), -1e37, 1e30);
    EXPECT_EQ(decodeMeterFloat(QByteArray::fromHex("80000000")), -1e-37) << "the reader's rule";
    EXPECT_EQ(decodeMeterFloat(bytesOf(encodeMeterFloat(-0.0))), 0.0);
    EXPECT_EQ(decodeMeterFloat(bytesOf(encodeMeterFloat(-1e-39))), 0.0);
}

TEST(LogRecord, EncodesRecordsByteForByteWithTheYearSpreadAndMidnightUnderTheDayBefore)
{
    EXPECT_EQ(bytesOf(encodeLogRecord({1, at(2000, 4, 15, 9, 30), 100.0})),
              QByteArray::fromHex("1415093042C80000"));
    // 2027: year field 27 = 0b11011 -> day byte 0b11, hour byte 0b01, minute byte 0b1.
    EXPECT_EQ(bytesOf(encodeLogRecord({3, at(2027, 11, 29, 23, 59), 1.0})).left(4),
              QByteArray::fromHex("3BE963D9"));
    const RecordBytes b = encodeLogRecord({2, at(2004, 4, 1, 0, 0), 5.0});
    EXPECT_EQ(bytesOf(b).left(4), QByteArray::fromHex("23318000")) << "March 31st, 00:00 (year 4)";
    EXPECT_EQ(decodeRecord(bytesOf(b))->stamp, at(2004, 4, 1, 0, 0));
}

TEST(LogRecord, RoundTripsInstantsAcrossTheStorableYears)
{
    int checked = 0;
    for (QDateTime stamp = at(2000, 1, 1, 0, 15); stamp < at(2032, 1, 1, 0, 1);
         stamp = stamp.addSecs(7 * 3600 + 45 * 60)) {
        const LogRecord record{1 + checked % 8, stamp, checked * 0.5};
        ASSERT_TRUE(isStorableStamp(stamp)) << stamp.toString().toStdString();
        const auto back = decodeRecord(bytesOf(encodeLogRecord(record)));
        ASSERT_TRUE(back) << stamp.toString().toStdString();
        EXPECT_EQ(back->stamp, stamp);
        EXPECT_EQ(back->channel, record.channel);
        EXPECT_EQ(back->value, record.value);
        ++checked;
    }
    EXPECT_GT(checked, 30000);
}

TEST(LogRecord, RefusesInstantsOutsideTheYearFieldOrWithSeconds)
{
    EXPECT_FALSE(isStorableStamp(at(2000, 1, 1, 0, 0))) << "stored as 1999-12-31";
    EXPECT_TRUE(isStorableStamp(at(2032, 1, 1, 0, 0))) << "stored as 2031-12-31";
    EXPECT_FALSE(isStorableStamp(at(2032, 1, 1, 0, 1)));
    EXPECT_FALSE(isStorableStamp(QDateTime(QDate(2010, 5, 5), QTime(1, 2, 3), Qt::UTC)));
}
