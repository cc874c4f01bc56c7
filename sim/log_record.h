#pragma once

#include <QDateTime>
#include <array>
#include <cstdint>

namespace ostrand::sim {

constexpr int kRecordBytes = 8;

// The year span the record's five-bit year field can carry (field = year - 2000).
constexpr int kFirstRecordYear = 2000;
constexpr int kLastRecordYear = 2031;

// One logged value: the channel (1-8), the logging instant (whole minutes) and the value.
struct LogRecord {
    int channel = 1;
    QDateTime stamp;
    double value = 0.0;
};

using RecordBytes = std::array<std::uint8_t, kRecordBytes>;

// True when `stamp` can be stored in a record: whole minutes, and a stored date (midnight
// counts as the day before) between 2000 and 2031.
bool isStorableStamp(const QDateTime &stamp);

// The eight bytes the meter logs for `record`: channel and month, BCD day, hour and
// minute with the year's bits spread over their top bits, then the meter float.
// `record` must have a storable stamp and a channel from 1 to 8.
RecordBytes encodeLogRecord(const LogRecord &record);

// True when a stored record slot is erased (one of its first four bytes is 0xFF).
bool isErasedRecord(const RecordBytes &bytes);

} // namespace ostrand::sim
