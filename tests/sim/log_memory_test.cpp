#include "circular_log.h"
#include "meter_float.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace ostrand::sim;

namespace {

template <std::size_t N> QByteArray hexOf(const std::array<std::uint8_t, N> &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(N)).toHex().toUpper();
}

QDateTime at(int y, int mo, int d, int h, int mi)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC);
}

QVector<LogRecord> instants(int count)
{
    QVector<LogRecord> records;
    for (int i = 0; i < count; ++i)
        records.append({1, at(2026, 12, 1, 0, 15).addSecs(900 * i), double(i)});
    return records;
}

int slotOf(const LogAddress &address)
{
    return logOffsetOf(address) / kRecordBytes;
}

} // namespace

TEST(SimLogRecord, EncodesFloatsAndRecordsByteForByte)
{
    const QList<std::pair<double, const char *>> floats = {
        {1.5, "3FC00000"}, {-100.0, "C2C80000"}, {0.0, "00000000"}, {-0.0, "00000000"},
        {5e38, "7CF0BDC2"} /* the meter's 1E37 */, {-1e-39, "00000000"}};
    for (const auto &[value, bytes] : floats)
        EXPECT_EQ(hexOf(encodeMeterFloat(value)), bytes) << value;
    const QList<std::pair<LogRecord, const char *>> records = {
        {{1, at(2000, 4, 15, 9, 30), 100.0}, "1415093042C80000"},
        // 2027: year field 27 = 0b11011 spread over the day, hour and minute bytes.
        {{3, at(2027, 11, 29, 23, 59), 1.0}, "3BE963D93F800000"},
        {{2, at(2004, 4, 1, 0, 0), 5.0}, "2331800040A00000"}, // midnight under March 31st
    };
    for (const auto &[record, bytes] : records)
        EXPECT_EQ(hexOf(encodeLogRecord(record)), bytes) << bytes;
    EXPECT_FALSE(isStorableStamp(at(2000, 1, 1, 0, 0))) << "would be 1999-12-31";
    EXPECT_TRUE(isStorableStamp(at(2032, 1, 1, 0, 0))) << "2031-12-31 24:00";
    EXPECT_FALSE(isStorableStamp(at(2032, 1, 1, 0, 1)));
    EXPECT_FALSE(isStorableStamp(QDateTime(QDate(2010, 5, 5), QTime(1, 2, 3), Qt::UTC)));
}

TEST(SimCircularLog, KeepsWholePagesEndingWithTheNewestAndAnErasedPageAheadWhenFull)
{
    for (const int count : {0, 1, 32, 33, 20000, CircularLog::kCapacity + 500}) {
        const QVector<LogRecord> records = instants(count);
        const CircularLog log = CircularLog::build(records, false);
        const int kept = std::min(count, CircularLog::kCapacity);
        const int span = (slotOf(log.endPointer()) - slotOf(log.startPointer()) + CircularLog::kSlots) %
                         CircularLog::kSlots;
        EXPECT_EQ(span, count > kept ? CircularLog::kCapacity : (count + 31) / 32 * 32) << count;
        EXPECT_EQ(log.recordCount(), kept);
        EXPECT_EQ(log.freeSlots(), CircularLog::kCapacity - kept) << "erased lead-in slots are free";
        for (int i = 0; i < CircularLog::kSlots; ++i) {
            const int slot = slotOf(log.startPointer()) + i;
            EXPECT_EQ(isErasedRecord(log.slotBytes(slot)), i < span - kept || i >= span) << count << ":" << i;
        }
        if (count > 0) {
            EXPECT_EQ(log.slotBytes(slotOf(log.endPointer()) - 1), encodeLogRecord(records.last()));
            EXPECT_EQ(log.slotBytes(slotOf(log.endPointer()) - kept), encodeLogRecord(records[count - kept]));
        }
    }
}

TEST(SimCircularLog, LogsOnAfterAConfirmationBehindAnErasedMarkerSlot)
{
    CircularLog log = CircularLog::build(instants(40), false);
    const LogAddress end = log.endPointer();
    log.confirmDownload();
    log.append(instants(41).last());
    EXPECT_EQ(log.lastDownloadPointer(), end);
    EXPECT_TRUE(isErasedRecord(log.slotBytes(slotOf(end))));
    EXPECT_EQ(log.slotBytes(slotOf(end) + 1), encodeLogRecord(instants(41).last()));
    EXPECT_EQ(log.endPointer(), advanceInLog(end, 16));
}
