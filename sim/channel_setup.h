#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand::sim {

// Where the channel setup blocks live: bank 0x18, page 0x80 + channel, offset 0.
constexpr int kSetupBank = 0x18;
constexpr int kSetupFirstPage = 0x81;
constexpr int kChannelCount = 8;

// Byte offsets inside a channel setup block (a 256-byte page, 0xFF where unused).
constexpr int kSetupChannelAt = 0;  // channel number
constexpr int kSetupEnabledAt = 1;  // 1 when the channel logs, 0 when not
constexpr int kSetupSpanLowAt = 2;  // meter float: bottom of the input span
constexpr int kSetupSpanHighAt = 6; // meter float: top of the input span
constexpr int kSetupUnitsAt = 16;   // 16 characters
constexpr int kSetupUnitsLength = 16;
constexpr int kSetupLabelAt = 64; // 32 characters
constexpr int kSetupLabelLength = 32;

// The label a channel that does not log carries.
inline QString notUsedLabel()
{
    return QStringLiteral("Not Used");
}

// What the setup block of one channel says.
struct ChannelSetup {
    int channel = 1;
    bool inUse = false;
    QString label;
    QString units;
    double spanLow = 0.0;
    double spanHigh = 0.0;
};

// The 256 bytes of `setup`'s block; texts in Latin-1, cut to their field and filled with 0xFF.
QByteArray encodeSetupBlock(const ChannelSetup &setup);

} // namespace ostrand::sim
