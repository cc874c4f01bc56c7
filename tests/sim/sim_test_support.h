#pragma once

#include "crc16.h"
#include "meter.h"
#include "meter_setup.h"
#include "sim_options.h"

#include <QDateTime>
#include <memory>

namespace ostrand::sim::testing {

// A fixed meter-clock instant for tests.
inline QDateTime testNow()
{
    return QDateTime(QDate(2026, 12, 6), QTime(14, 7, 30), Qt::UTC);
}

// Hex text as bytes with the frame's CRC appended.
inline QByteArray framed(const char *hex)
{
    QByteArray frame = QByteArray::fromHex(hex);
    appendCrc(frame);
    return frame;
}

// Options parsed from `arguments` (the test fails loudly on a parse error).
SimOptions optionsFrom(const QStringList &arguments);

// The contents and meter `arguments` describe, built at testNow().
struct BuiltMeter {
    MeterContents contents;
    std::unique_ptr<Meter> meter;
};
BuiltMeter meterFrom(const QStringList &arguments);

} // namespace ostrand::sim::testing
