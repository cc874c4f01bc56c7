#include "modbus_frame.h"

#include "crc16.h"

namespace ostrand::sim {

int requestLength(const QByteArray &buffer)
{
    if (buffer.size() < 2)
        return 0;
    switch (byteAt(buffer, 1)) {
    case kReadHoldingRegisters:
        return 8;
    case kWriteRegisters:
        // slave, function, start (2), count (2), byte count, data, CRC (2)
        return buffer.size() < 7 ? 0 : 7 + byteAt(buffer, 6) + 2;
    case kReadMemoryBlock:
    case kReadLastDownload:
        return 9;
    case kConfirmDownload:
    case kReadDisplayBlock:
        return 4;
    default:
        return -1;
    }
}

QByteArray buildFrame(std::uint8_t slave, std::uint8_t function, const QByteArray &data)
{
    QByteArray frame;
    frame.reserve(data.size() + 4);
    frame.append(static_cast<char>(slave));
    frame.append(static_cast<char>(function));
    frame.append(data);
    appendCrc(frame);
    return frame;
}

QByteArray buildException(std::uint8_t slave, std::uint8_t function, std::uint8_t code)
{
    return buildFrame(slave, static_cast<std::uint8_t>(function | 0x80),
                      QByteArray(1, static_cast<char>(code)));
}

QByteArray hexText(const QByteArray &bytes)
{
    return bytes.toHex(' ').toUpper();
}

} // namespace ostrand::sim
