#include "palm_stamp.h"

#include <QDate>

namespace ostrand {
namespace {

// A two-digit BCD byte; -1 when a digit is above 9.
int bcdValue(quint8 byte)
{
    const int high = byte >> 4;
    const int low = byte & 0x0F;
    return high > 9 || low > 9 ? -1 : high * 10 + low;
}

char *twoDigits(char *out, int value)
{
    *out++ = char('0' + value / 10 % 10);
    *out++ = char('0' + value % 10);
    return out;
}

} // namespace

PalmStamp PalmStampReader::next(const PalmLogRecord &record)
{
    // The channels of one instant carry the same five bytes: decode them once.
    const quint64 key = quint64(record.year) << 32 | quint64(record.month) << 24 |
                        quint64(record.day) << 16 | quint64(record.hour) << 8 | record.minute;
    if (key == lastKey_)
        return last_;
    lastKey_ = key;

    const int year = bcdValue(record.year);
    const int day = bcdValue(record.day);
    if (year >= 0 && day >= 0 && QDate::isValid(2000 + year, record.month, day))
        dateDay_ = QDate(2000 + year, record.month, day).toJulianDay();
    const int hour = bcdValue(record.hour);
    const int minute = bcdValue(record.minute);
    if (hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59)
        timeMinutes_ = hour * 60 + minute;

    last_.julianDay = timeMinutes_ == 0 ? dateDay_ + 1 : dateDay_;
    last_.minuteOfDay = timeMinutes_;
    return last_;
}

QString palmStampText(const PalmStamp &stamp)
{
    const QDate date = QDate::fromJulianDay(stamp.julianDay);
    char text[20];
    char *out = twoDigits(text, date.month());
    *out++ = '/';
    out = twoDigits(out, date.day());
    *out++ = '/';
    out = twoDigits(out, date.year() / 100);
    out = twoDigits(out, date.year() % 100);
    *out++ = ' ';
    out = twoDigits(out, stamp.minuteOfDay / 60);
    *out++ = ':';
    out = twoDigits(out, stamp.minuteOfDay % 60);
    return QString::fromLatin1(text, out - text);
}

} // namespace ostrand
