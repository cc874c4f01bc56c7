#pragma once

#include <QByteArray>
#include <cstdint>

namespace ostrand::sim {

// Written apart from link/'s CRC on purpose (bitwise here, so the two share no
// code or table): the simulator is the program's independent peer.
// CRC-16/MODBUS of `bytes` (register from 0xFFFF, reflected polynomial 0xA001).
std::uint16_t crc16(const QByteArray &bytes);

// Appends the CRC of `frame` to it, low byte first, closing an RTU frame.
void appendCrc(QByteArray &frame);

// True when `frame` ends with the CRC of the bytes before it.
bool hasValidCrc(const QByteArray &frame);

} // namespace ostrand::sim
