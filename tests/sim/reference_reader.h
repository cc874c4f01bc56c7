#pragma once

// The reading side of the meter interface, written from the program's documented rules
// rather than from the simulator's encoders, so that what the simulator produces is
// checked against how it will be read.

#include "meter.h"

#include <optional>

namespace ostrand::sim::testing {

// A request frame: slave, function, data and CRC.
QByteArray request(int slave, int function, const QByteArray &data = {});

// The reader's float, with its limits (exponent field < 2: 0 or -1E-37; > 252: +-1E37).
double decodeMeterFloat(const QByteArray &four);

struct DecodedRecord {
    int channel = 0;
    QDateTime stamp;
    double value = 0.0;
};

// One record, or nothing when erased or impossible; 00:00 moves to the next day.
std::optional<DecodedRecord> decodeRecord(const QByteArray &eight);

struct Walk {
    int result = 0; // 0 complete, 1 no records, 4 a block failed, 80 no pointers
    qint64 byteCount = 0;
    QVector<DecodedRecord> records;
};

// Reads the log out of `meter` as the download program walks it: pointer registers, byte
// count, 256-byte blocks until it lands on the end pointer or its count runs out.
Walk downloadLog(Meter &meter, bool portable, bool sinceLastTime, const QDateTime &now);

} // namespace ostrand::sim::testing
