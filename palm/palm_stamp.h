#pragma once

#include "palm/palm_log_record.h"

#include <QString>

namespace ostrand {

// A record's date and time as the conversion compares them.
struct PalmStamp {
    qint64 julianDay = 0;
    int minuteOfDay = 0;

    bool operator==(const PalmStamp &other) const
    {
        return julianDay == other.julianDay && minuteOfDay == other.minuteOfDay;
    }
    bool operator!=(const PalmStamp &other) const { return !(*this == other); }
};

// Turns the date and time bytes of successive records into stamps. A date or
// a time that the bytes do not form (a digit above 9, 31 April, 24:00) is the
// previous record's, or the zero date (30 December 1899) and midnight before
// any valid one. A record at 00:00 closes the day before, so it is dated one
// day later, as the meter's own log is.
class PalmStampReader {
public:
    // The stamp of the next record in file order.
    PalmStamp next(const PalmLogRecord &record);

private:
    static constexpr qint64 kZeroDateJulianDay = 2415019; // 30 December 1899

    quint64 lastKey_ = ~quint64(0); // above every five-byte key, so the first record decodes
    qint64 dateDay_ =
        kZeroDateJulianDay; // the last date the bytes formed, before the midnight move
    int timeMinutes_ = 0;   // the last time the bytes formed
    PalmStamp last_;
};

// The grid's text of a stamp: "12/05/2007 09:30", every number of two digits
// but the four-digit year, hours from 00 to 23.
QString palmStampText(const PalmStamp &stamp);

} // namespace ostrand
