#pragma once

#include <QByteArray>
#include <QVector>
#include <array>
#include <cstdint>

namespace ostrand {

// Request frames of every exchange with the meter, CRC included. The slave
// address goes out as one byte: only its low 8 bits reach the wire.
namespace request {

constexpr std::uint8_t kReadHoldingRegisters = 0x03;
constexpr std::uint8_t kWriteRegisters = 0x10;
constexpr std::uint8_t kReadLogBlock = 0x60;
constexpr std::uint8_t kReadLastDownloadPointer = 0x61;
constexpr std::uint8_t kConfirmDownload = 0x62;
constexpr std::uint8_t kReadDisplayBlock = 0x63;

// Function 3: `count` registers from register startHigh * 256 + startLow.
QByteArray readHoldingRegisters(int slave, int startHigh, int startLow, int count);
// Function 0x60: `count` 16-bit words of meter memory at bank p1, page p2, offset p3.
QByteArray readLogBlock(int slave, int p1, int p2, int p3, int count);
// Function 0x61: where the previous download stopped.
QByteArray readLastDownloadPointer(int slave);
// Function 0x62: the download was stored.
QByteArray confirmDownload(int slave);
// Function 16: `values` (at most the first 36) into the registers from `first`,
// each high byte then low byte.
QByteArray writeRegisters(int slave, int first, const QVector<quint16> &values);
// The registers writeRegisters puts in one frame.
constexpr int kMaxWrittenRegisters = 36;
// Function 0x63: the 20-byte display block.
QByteArray readDisplayBlock(int slave);

} // namespace request

} // namespace ostrand
