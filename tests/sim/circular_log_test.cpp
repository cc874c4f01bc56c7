#include "circular_log.h"
#include "reference_reader.h"

#include <gtest/gtest.h>

using namespace ostrand::sim;
using ostrand::sim::testing::decodeRecord;

namespace {

QVector<LogRecord> instants(int count)
{
    QVector<LogRecord> records;
    const QDateTime start(QDate(2026, 12, 1), QTime(0, 15), Qt::UTC);
    for (int i = 0; i < count; ++i)
        records.append({1, start.addSecs(900 * i), double(i)});
    return records;
}

int slotOf(const LogAddress &address)
{
    return logOffsetOf(address) / kRecordBytes;
}

int slotsBetween(const LogAddress &from, const LogAddress &to)
{
    return (slotOf(to) - slotOf(from) + CircularLog::kSlots) % CircularLog::kSlots;
}

double valueAt(const CircularLog &log, const LogAddress &address, int bytesAfter = 0)
{
    const auto record = decodeRecord(log.read(logOffsetOf(address) + bytesAfter, 8));
    EXPECT_TRUE(record);
    return record ? record->value : -1.0;
}

} // namespace

TEST(CircularLog, KeepsTheEndWholePagesAfterTheStartWithTheRecordsJustBeforeTheEnd)
{
    for (const int count : {0, 1, 31, 32, 33, 2049, 20000}) {
        const CircularLog log = CircularLog::build(instants(count), false);
        const int span = slotsBetween(log.startPointer(), log.endPointer());
        EXPECT_EQ(span, (count + 31) / 32 * 32) << count;
        EXPECT_EQ(log.startPointer(), (LogAddress{8, 0x80, 0})) << count;
        EXPECT_EQ(log.recordCount(), count);
        EXPECT_EQ(log.freeSlots(), CircularLog::kCapacity - count)
            << "erased lead-in slots are free";
        for (int i = 0; i < span; ++i) {
            const bool holdsRecord = i >= span - count;
            EXPECT_EQ(!isErasedRecord(log.slotBytes(slotOf(log.startPointer()) + i)), holdsRecord)
                << count << ":" << i;
        }
        if (count > 0) {
            EXPECT_EQ(valueAt(log, log.endPointer(), -8), count - 1) << "newest before the end";
        }
    }
}

TEST(CircularLog, ALogLargerThanMemoryKeepsTheNewestRecordsAndAnErasedPageAhead)
{
    const int total = CircularLog::kCapacity + 500;
    const CircularLog log = CircularLog::build(instants(total), false);
    EXPECT_EQ(log.recordCount(), CircularLog::kCapacity);
    EXPECT_EQ(log.freeSlots(), 0);
    EXPECT_EQ(slotsBetween(log.endPointer(), log.startPointer()), CircularLog::kGapSlots);
    for (int i = 0; i < CircularLog::kGapSlots; ++i)
        EXPECT_TRUE(isErasedRecord(log.slotBytes(slotOf(log.endPointer()) + i)));
    EXPECT_EQ(valueAt(log, log.startPointer()), total - CircularLog::kCapacity);
}

TEST(CircularLog, TheLastDownloadStartsBeforeTheLogUntilAConfirmationMarksTheEnd)
{
    CircularLog log = CircularLog::build(instants(40), false);
    EXPECT_EQ(log.lastDownloadPointer(), (LogAddress{0x17, 0xBF, 0xF8}));
    const LogAddress end = log.endPointer();
    log.confirmDownload();
    EXPECT_EQ(log.lastDownloadPointer(), end);

    log.append(instants(41).last());
    EXPECT_EQ(log.lastDownloadPointer(), end);
    EXPECT_TRUE(isErasedRecord(log.slotBytes(slotOf(end)))) << "the marker slot stays erased";
    EXPECT_EQ(valueAt(log, end, 8), 40);
    EXPECT_EQ(log.endPointer(), advanceInLog(end, 16));
}
