#pragma once

#include <QByteArray>
#include <QtEndian>
#include <cstring>

namespace ostrand::testing {

// A 20-byte display block: flow and velocity as the meter's floats (IEEE
// singles, most significant byte first), the totals' bytes, the alarm value.
inline QByteArray displayBlock(float flow, float velocity, const char *forwardHex = "00000000",
                               const char *reverseHex = "00000000", float alarms = 0)
{
    const auto bytes = [](float value) {
        QByteArray out(4, '\0');
        qToBigEndian(qFromUnaligned<quint32>(&value), out.data());
        return out;
    };
    return bytes(flow) + bytes(velocity) + QByteArray::fromHex(forwardHex) +
           QByteArray::fromHex(reverseHex) + bytes(alarms);
}

} // namespace ostrand::testing
