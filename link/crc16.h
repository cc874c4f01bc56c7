#pragma once

#include <QByteArray>
#include <cstdint>

namespace ostrand {

// The Modbus RTU CRC-16 (reflected polynomial 0xA001, start 0xFFFF); the check
// value over "123456789" is 0x4B37.
constexpr std::uint16_t kCrcStart = 0xFFFF;

// One byte's step of the CRC.
std::uint16_t crc16Step(std::uint16_t crc, std::uint8_t byte);
// The CRC of `bytes` from the start value.
std::uint16_t crc16(const QByteArray &bytes);
// `frame` followed by its CRC, low byte first, as it goes on the wire.
QByteArray appendCrc(QByteArray frame);

} // namespace ostrand
