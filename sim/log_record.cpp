#include "log_record.h"

#include "meter_float.h"

namespace ostrand::sim {

namespace {

std::uint8_t bcd(int value)
{
    return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10));
}

// The meter closes a day's last interval at 24:00 and stores it as 00:00 of that day;
// readers move a 00:00 record to the next day, so the instant comes back unchanged.
QDate storedDate(const QDateTime &stamp)
{
    const QTime time = stamp.time();
    const QDate date = stamp.date();
    return (time.hour() == 0 && time.minute() == 0) ? date.addDays(-1) : date;
}

} // namespace

bool isStorableStamp(const QDateTime &stamp)
{
    if (!stamp.isValid() || stamp.time().second() != 0 || stamp.time().msec() != 0)
        return false;
    const int year = storedDate(stamp).year();
    return year >= kFirstRecordYear && year <= kLastRecordYear;
}

RecordBytes encodeLogRecord(const LogRecord &record)
{
    const QDate date = storedDate(record.stamp);
    const QTime time = record.stamp.time();
    const int year = date.year() - kFirstRecordYear;
    const MeterFloatBytes value = encodeMeterFloat(record.value);
    return {
        static_cast<std::uint8_t>((record.channel & 0x0F) << 4 | date.month()),
        static_cast<std::uint8_t>(((year >> 3) & 0x03) << 6 | bcd(date.day())),
        static_cast<std::uint8_t>(((year >> 1) & 0x03) << 6 | bcd(time.hour())),
        static_cast<std::uint8_t>((year & 0x01) << 7 | bcd(time.minute())),
        value[0],
        value[1],
        value[2],
        value[3],
    };
}

bool isErasedRecord(const RecordBytes &bytes)
{
    for (int i = 0; i < 4; ++i) {
        if (bytes[i] == 0xFF)
            return true;
    }
    return false;
}

} // namespace ostrand::sim
