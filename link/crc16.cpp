#include "crc16.h"

namespace ostrand {

std::uint16_t crc16Step(std::uint16_t crc, std::uint8_t byte)
{
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
        const bool carry = crc & 1u;
        crc >>= 1;
        if (carry)
            crc ^= 0xA001;
    }
    return crc;
}

std::uint16_t crc16(const QByteArray &bytes)
{
    std::uint16_t crc = kCrcStart;
    for (char c : bytes)
        crc = crc16Step(crc, static_cast<std::uint8_t>(c));
    return crc;
}

QByteArray appendCrc(QByteArray frame)
{
    const std::uint16_t crc = crc16(frame);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

} // namespace ostrand
