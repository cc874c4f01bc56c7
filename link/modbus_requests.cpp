#include "modbus_requests.h"

#include "crc16.h"

#include <algorithm>

namespace ostrand::request {
namespace {

char byte(int value)
{
    return static_cast<char>(value & 0xFF);
}

QByteArray frame(int slave, std::uint8_t function)
{
    QByteArray bytes;
    bytes.append(byte(slave));
    bytes.append(static_cast<char>(function));
    return bytes;
}

} // namespace

QByteArray readHoldingRegisters(int slave, int startHigh, int startLow, int count)
{
    QByteArray bytes = frame(slave, kReadHoldingRegisters);
    bytes.append(byte(startHigh));
    bytes.append(byte(startLow));
    bytes.append(byte(count / 256));
    bytes.append(byte(count % 256));
    return appendCrc(bytes);
}

QByteArray readLogBlock(int slave, int p1, int p2, int p3, int count)
{
    QByteArray bytes = frame(slave, kReadLogBlock);
    bytes.append(byte(p1));
    bytes.append(byte(p2));
    bytes.append(byte(p3));
    bytes.append(byte(count / 256));
    bytes.append(byte(count % 256));
    return appendCrc(bytes);
}

QByteArray readLastDownloadPointer(int slave)
{
    QByteArray bytes = frame(slave, kReadLastDownloadPointer);
    bytes.append(5, '\0');
    return appendCrc(bytes);
}

QByteArray confirmDownload(int slave)
{
    return appendCrc(frame(slave, kConfirmDownload));
}

QByteArray writeRegisters(int slave, int first, const QVector<quint16> &values)
{
    const int count = static_cast<int>(std::min<qsizetype>(values.size(), kMaxWrittenRegisters));
    QByteArray bytes = frame(slave, kWriteRegisters);
    bytes.append(byte(first / 256));
    bytes.append(byte(first));
    bytes.append(byte(count / 256));
    bytes.append(byte(count));
    bytes.append(byte(2 * count));
    for (int i = 0; i < count; ++i) {
        bytes.append(byte(values[i] >> 8));
        bytes.append(byte(values[i]));
    }
    return appendCrc(bytes);
}

QByteArray readDisplayBlock(int slave)
{
    return appendCrc(frame(slave, kReadDisplayBlock));
}

} // namespace ostrand::request
