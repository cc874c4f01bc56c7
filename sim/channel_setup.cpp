#include "channel_setup.h"

#include "log_address.h"
#include "meter_float.h"

namespace ostrand::sim {

namespace {

void putText(QByteArray &block, int at, int length, const QString &text)
{
    const QByteArray bytes = text.toLatin1().left(length);
    block.replace(at, bytes.size(), bytes);
}

void putFloat(QByteArray &block, int at, double value)
{
    const MeterFloatBytes bytes = encodeMeterFloat(value);
    for (int i = 0; i < 4; ++i)
        block[at + i] = static_cast<char>(bytes[i]);
}

} // namespace

QByteArray encodeSetupBlock(const ChannelSetup &setup)
{
    QByteArray block(kPageBytes, char(0xFF));
    block[kSetupChannelAt] = static_cast<char>(setup.channel);
    block[kSetupEnabledAt] = static_cast<char>(setup.inUse ? 1 : 0);
    putFloat(block, kSetupSpanLowAt, setup.spanLow);
    putFloat(block, kSetupSpanHighAt, setup.spanHigh);
    putText(block, kSetupUnitsAt, kSetupUnitsLength, setup.units);
    putText(block, kSetupLabelAt, kSetupLabelLength, setup.label);
    return block;
}

} // namespace ostrand::sim
