#include "memory_map.h"

namespace ostrand::sim {

MemoryMap::MemoryMap(const CircularLog *log, QVector<QByteArray> setupBlocks)
    : log_(log), setupBlocks_(std::move(setupBlocks))
{
}

QByteArray MemoryMap::read(const LogAddress &at, int length) const
{
    if (length <= 0)
        return {};
    const int logOffset = logOffsetOf(at);
    if (logOffset >= 0)
        return log_->read(logOffset, length);

    QByteArray out;
    out.reserve(length);
    const std::uint32_t first = linearValue(at);
    for (int i = 0; i < length; ++i)
        out.append(byteAtLinear((first + std::uint32_t(i)) & 0xFFFFFF));
    return out;
}

char MemoryMap::byteAtLinear(std::uint32_t linear) const
{
    const LogAddress address{static_cast<std::uint8_t>(linear >> 16),
                             static_cast<std::uint8_t>(linear >> 8),
                             static_cast<std::uint8_t>(linear)};
    const int logOffset = logOffsetOf(address);
    if (logOffset >= 0)
        return log_->byteAt(logOffset);
    if (address.bank == kSetupBank) {
        const int index = address.page - kSetupFirstPage;
        if (index >= 0 && index < setupBlocks_.size())
            return setupBlocks_.at(index).at(address.offset);
    }
    return char(0xFF);
}

} // namespace ostrand::sim
