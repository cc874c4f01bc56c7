#include "meter.h"

#include "meter_float.h"
#include "modbus_frame.h"

namespace ostrand::sim {

namespace {

constexpr int kMaxRegistersPerRead = 125;
constexpr int kMaxWordsPerBlock = 128; // one 256-byte page

void appendAddress(QByteArray &out, const LogAddress &a)
{
    out.append(static_cast<char>(a.bank));
    out.append(static_cast<char>(a.page));
    out.append(static_cast<char>(a.offset));
}

void appendFloat(QByteArray &out, double value)
{
    for (const std::uint8_t b : encodeMeterFloat(value))
        out.append(static_cast<char>(b));
}

QVector<QByteArray> setupBlocks(const QVector<ChannelSetup> &channels)
{
    QVector<QByteArray> blocks;
    for (int k = 1; k <= kChannelCount; ++k) {
        ChannelSetup setup{k, false, notUsedLabel(), QString(), 0.0, 0.0};
        for (const ChannelSetup &given : channels) {
            if (given.channel == k)
                setup = given;
        }
        blocks << encodeSetupBlock(setup);
    }
    return blocks;
}

int word(const QByteArray &frame, int at)
{
    return byteAt(frame, at) << 8 | byteAt(frame, at + 1);
}

} // namespace

QByteArray pointerRegisterBytes(const CircularLog &log, bool portableLayout)
{
    QByteArray out;
    if (!portableLayout)
        out.append('\0');
    appendAddress(out, log.startPointer());
    out.append('\0');
    appendAddress(out, log.endPointer());
    appendFloat(out, log.recordCount());
    appendFloat(out, log.freeSlots());
    if (portableLayout)
        out.append('\0');
    return out;
}

Meter::Meter(const MeterConfig &config, CircularLog log, const QVector<ChannelSetup> &channels,
             const QDateTime &startedAt)
    : portableLayout_(config.portableLayout), settings_{config.slaveAddress, config.intervalMinutes,
                                                        0},
      log_(std::move(log)), memory_(&log_, setupBlocks(channels)),
      process_(startedAt, config.extraAlarmBits), panel_(&settings_, &process_, &log_)
{
}

Reply Meter::respond(const QByteArray &frame, const QDateTime &now)
{
    Reply reply;
    const int expected = requestLength(frame);
    if (frame.size() < 4 || (expected > 0 && frame.size() != expected))
        return reply;
    const std::uint8_t slave = byteAt(frame, 0);
    const std::uint8_t function = byteAt(frame, 1);
    reply.function = function;

    if (slave == kBroadcastAddress) {
        // Broadcasts are obeyed where that makes sense (a key) and never answered.
        if (function == kWriteRegisters)
            writeRegisters(frame, now, false);
        return reply;
    }
    if (slave != settings_.slaveAddress)
        return reply;
    reply.addressed = true;

    switch (function) {
    case kReadHoldingRegisters:
        reply.pointerRead = word(frame, 2) <= kFirstPointerRegister &&
                            word(frame, 2) + word(frame, 4) > kFirstPointerRegister;
        reply.bytes = readRegisters(frame, now);
        break;
    case kWriteRegisters:
        reply.bytes = writeRegisters(frame, now, true);
        break;
    case kReadMemoryBlock:
        reply.bytes = readBlock(frame, reply);
        break;
    case kReadLastDownload: {
        QByteArray data;
        appendAddress(data, log_.lastDownloadPointer());
        reply.bytes = buildFrame(slave, function, data);
        break;
    }
    case kConfirmDownload:
        log_.confirmDownload();
        reply.confirmed = true;
        reply.bytes = buildFrame(slave, function, {});
        break;
    case kReadDisplayBlock: {
        QByteArray data;
        data.append('\0');
        data.append(char(20));
        data.append(encodeDisplayBlock(process_.valuesAt(now)));
        reply.bytes = buildFrame(slave, function, data);
        break;
    }
    default:
        reply.bytes = buildException(slave, function, kIllegalFunction);
        break;
    }
    return reply;
}

QByteArray Meter::readRegisters(const QByteArray &frame, const QDateTime &now)
{
    const auto slave = byteAt(frame, 0);
    const int start = word(frame, 2);
    const int count = word(frame, 4);
    if (count < 1 || count > kMaxRegistersPerRead)
        return buildException(slave, kReadHoldingRegisters, kIllegalDataValue);

    const QByteArray screen = panel_.screen(now);
    const QByteArray pointers = pointerRegisterBytes(log_, portableLayout_);
    QByteArray data;
    data.append(static_cast<char>(2 * count));
    for (int reg = start; reg < start + count; ++reg) {
        const auto value = holdingRegister(reg, screen, pointers);
        if (!value)
            return buildException(slave, kReadHoldingRegisters, kIllegalDataAddress);
        data.append(static_cast<char>(*value >> 8));
        data.append(static_cast<char>(*value & 0xFF));
    }
    return buildFrame(slave, kReadHoldingRegisters, data);
}

std::optional<std::uint16_t> Meter::holdingRegister(int reg, const QByteArray &screen,
                                                    const QByteArray &pointers) const
{
    const auto pair = [](const QByteArray &bytes, int at) {
        return std::uint16_t(byteAt(bytes, at) << 8 | byteAt(bytes, at + 1));
    };
    if (reg >= kFirstTextRegister && reg < kFirstTextRegister + kTextRegisters)
        return pair(screen, 2 * (reg - kFirstTextRegister));
    if (reg >= kFirstPointerRegister && reg < kFirstPointerRegister + kPointerRegisters)
        return pair(pointers, 2 * (reg - kFirstPointerRegister));
    if (reg == kKeyRegister)
        return lastKey_;
    return std::nullopt;
}

QByteArray Meter::writeRegisters(const QByteArray &frame, const QDateTime &now, bool reply)
{
    const auto slave = byteAt(frame, 0);
    const int start = word(frame, 2);
    const int count = word(frame, 4);
    const int byteCount = byteAt(frame, 6);
    if (count < 1 || byteCount != 2 * count || frame.size() != 9 + byteCount)
        return reply ? buildException(slave, kWriteRegisters, kIllegalDataValue) : QByteArray();
    if (start != kKeyRegister || count != 1)
        return reply ? buildException(slave, kWriteRegisters, kIllegalDataAddress) : QByteArray();

    lastKey_ = std::uint16_t(word(frame, 7));
    // The key code rides in both bytes; the high one is what the keypad reads.
    panel_.press(static_cast<char>(byteAt(frame, 7)), now);
    return reply ? buildFrame(slave, kWriteRegisters, frame.mid(2, 4)) : QByteArray();
}

QByteArray Meter::readBlock(const QByteArray &frame, Reply &reply) const
{
    const auto slave = byteAt(frame, 0);
    const LogAddress at{byteAt(frame, 2), byteAt(frame, 3), byteAt(frame, 4)};
    const int words = word(frame, 5);
    if (words < 1 || words > kMaxWordsPerBlock)
        return buildException(slave, kReadMemoryBlock, kIllegalDataValue);

    reply.logBlock = isInLog(at);
    reply.blockAddress = at;
    reply.blockLength = 2 * words;
    QByteArray data;
    appendAddress(data, at);
    data.append(static_cast<char>(reply.blockLength >> 8));
    data.append(static_cast<char>(reply.blockLength & 0xFF));
    data.append(memory_.read(at, reply.blockLength));
    return buildFrame(slave, kReadMemoryBlock, data);
}

} // namespace ostrand::sim
