#pragma once

#include <QByteArray>
#include <cstdint>

namespace ostrand::sim {

// The simulator frames its replies with its own code, not link/'s: a shared
// mistake would then make the program and its test peer agree on wrong bytes.

// Function codes the meter answers.
constexpr std::uint8_t kReadHoldingRegisters = 0x03;
constexpr std::uint8_t kWriteRegisters = 0x10;
constexpr std::uint8_t kReadMemoryBlock = 0x60;
constexpr std::uint8_t kReadLastDownload = 0x61;
constexpr std::uint8_t kConfirmDownload = 0x62;
constexpr std::uint8_t kReadDisplayBlock = 0x63;

// Modbus exception codes.
constexpr std::uint8_t kIllegalFunction = 0x01;
constexpr std::uint8_t kIllegalDataAddress = 0x02;
constexpr std::uint8_t kIllegalDataValue = 0x03;

// Address that every slave obeys and none answers.
constexpr std::uint8_t kBroadcastAddress = 0;

// Length of the request frame at the front of `buffer`, CRC included, told by its
// function code (RTU frames carry no length of their own): 0 when more bytes are needed to
// tell, -1 when the function is not one this meter knows.
int requestLength(const QByteArray &buffer);

// Byte `index` of `frame` as an unsigned value.
inline std::uint8_t byteAt(const QByteArray &frame, int index)
{
    return static_cast<std::uint8_t>(frame.at(index));
}

// A reply frame: `slave`, `function`, `data` and the CRC.
QByteArray buildFrame(std::uint8_t slave, std::uint8_t function, const QByteArray &data);

// The exception reply to `function` with `code`.
QByteArray buildException(std::uint8_t slave, std::uint8_t function, std::uint8_t code);

// "01 03 00 4C": bytes as spaced upper-case hexadecimal, for logs.
QByteArray hexText(const QByteArray &bytes);

} // namespace ostrand::sim
