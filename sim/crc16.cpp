#include "crc16.h"

namespace ostrand::sim {

std::uint16_t crc16(const QByteArray &bytes)
{
    std::uint16_t reg = 0xFFFF;
    for (const char c : bytes) {
        reg ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = reg & 1u;
            reg >>= 1;
            if (carry)
                reg ^= 0xA001;
        }
    }
    return reg;
}

void appendCrc(QByteArray &frame)
{
    const std::uint16_t crc = crc16(frame);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
}

bool hasValidCrc(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const std::uint16_t crc = crc16(frame.left(frame.size() - 2));
    const auto lo = static_cast<std::uint8_t>(frame.at(frame.size() - 2));
    const auto hi = static_cast<std::uint8_t>(frame.at(frame.size() - 1));
    return lo == (crc & 0xFF) && hi == (crc >> 8);
}

} // namespace ostrand::sim
