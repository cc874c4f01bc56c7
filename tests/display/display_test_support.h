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
    QByteArray block;
    for (const float value : {flow, velocity, alarms}) {
        quint32 bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        block.append(QByteArray(4, '\0'));
        qToBigEndian(bits, block.data() + block.size() - 4);
    }
    return block.left(8) + QByteArray::fromHex(forwardHex) + QByteArray::fromHex(reverseHex) +
           block.right(4);
}

} // namespace ostrand::testing
