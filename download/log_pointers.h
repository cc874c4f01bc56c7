#pragma once

#include "download/log_address.h"

#include <QByteArray>
#include <QString>

namespace ostrand {

// The log's pointers and counts sit in holding registers 76 to 83.
constexpr int kPointerRegister = 76;
constexpr int kPointerRegisterCount = 8;
// One log record: channel, packed stamp, four-byte value.
constexpr int kLogRecordBytes = 8;

// Holding registers 76 to 83 as the meter reports them: where its log starts
// and ends, and how many records it holds and may still hold.
struct LogPointers {
    QByteArray registers; // the 16 data bytes as read
    LogAddress start;
    LogAddress end;       // the slot the next record goes to
    bool portable = false;

    // Both pointers inside the log area: a wrong layout chosen, or a garbled
    // reply that passed its CRC, would send the reads through unrelated memory.
    bool inLogArea() const { return isInLogArea(start) && isInLogArea(end); }
    // Whether a record at `address` is still in the log: from the start up to
    // the record before the end, round the ring.
    bool holds(const LogAddress &address) const
    {
        return isInLogArea(address) && address != end && liesBetween(address, start, end);
    }
    // "Records used" and "Records available" as the count boxes show them.
    QString recordsUsedText() const;
    QString recordsAvailableText() const;
};

LogPointers parseLogPointers(const QByteArray &registers, bool portable);

// The last record a collection stored: where it lies in the log and its eight
// bytes, so a later run can tell whether the log still holds it.
struct LogCursor {
    LogAddress address;
    QByteArray record;

    bool isSet() const { return record.size() == kLogRecordBytes; }
    bool operator==(const LogCursor &o) const { return address == o.address && record == o.record; }
    bool operator!=(const LogCursor &o) const { return !(*this == o); }
};

// Of two cursors kept by two keepers of the same readings, the one to read on
// from so that neither misses a record: the one nearer the log's start, or
// one the log no longer holds (overwritten past it, or the meter was reset).
const LogCursor &earlierCursor(const LogCursor &a, const LogCursor &b, const LogPointers &pointers);

} // namespace ostrand
