#pragma once

#include "display/display_view.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

namespace ostrand {

// Bytes of the display block: flow, velocity, forward total, reverse total, alarm bits.
constexpr int kDisplayBlockSize = 20;

// The lines one decoded block writes; a line left empty (nullopt) is not written.
struct DisplayUpdate {
    std::array<std::optional<QString>, kDisplayLineCount> lines;
};

// The lines for a 20-byte display block under `selection`; nothing for a block of another size.
DisplayUpdate decodeDisplayBlock(const QByteArray &block, const DisplaySelection &selection);

// A total from its four bytes, b0 first: b0*65536 + b1*4096 + b2*256 + b3.
int decodeTotal(const QByteArray &block, int offset);

// A total as shown in the units of total-list `position`.
QString totalText(int total, int position);

// The alarm line for a decoded alarm field, by meter type. A value whose whole
// part is negative or beyond 32 bits is no bit set, and shows no alarm.
QString alarmText(double alarmValue, MeterType type);

// Writes `update` to `view`, touching only the lines it carries.
void applyDisplayUpdate(const DisplayUpdate &update, DisplayView &view);

} // namespace ostrand
