#pragma once

#include "table/channel.h"

#include <QtGlobal>

namespace ostrand {

// One 32-byte log record of the handheld's database, byte for byte as stored.
// Every field is a byte or a run of bytes, so no byte order arises.
struct PalmLogRecord {
    quint8 sync[2]; // 0xAA 0x55 on a log record
    quint8 unused1[4];
    quint8 modId;           // the meter's Modbus slave ID
    quint8 channelCode;     // 0x10 x channel number (1 to 8); anything else is ignored
    quint8 channelName[10]; // 8-bit characters; 254 and 255 are filler
    quint8 unused2[4];
    quint8 year;     // two BCD digits, 20YY
    quint8 month;    // plain binary 1 to 12
    quint8 day;      // two BCD digits
    quint8 hour;     // two BCD digits
    quint8 minute;   // two BCD digits
    quint8 value[4]; // the meter's float, most significant byte first
    quint8 unused3;

    // Whether the record starts with the sync pair, i.e. is a log record at all.
    bool hasSync() const { return sync[0] == 0xAA && sync[1] == 0x55; }
    // The channel (1 to 8) its code names, or 0 for a code the conversion ignores.
    int channel() const
    {
        const int k = channelCode >> 4;
        return (channelCode & 0x0F) == 0 && k >= 1 && k <= kChannelCount ? k : 0;
    }
};

constexpr int kPalmLogRecordSize = 32;
static_assert(sizeof(PalmLogRecord) == kPalmLogRecordSize, "a record is read with one copy");

} // namespace ostrand
