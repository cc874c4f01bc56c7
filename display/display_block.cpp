#include "display_block.h"

#include "display/display_units.h"
#include "display/flow_pattern.h"
#include "table/meter_float.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace ostrand {
namespace {

constexpr int kFlowOffset = 0;
constexpr int kVelocityOffset = 4;
constexpr int kForwardTotalOffset = 8;
constexpr int kReverseTotalOffset = 12;
constexpr int kAlarmOffset = 16;

struct AlarmBit {
    int bit;
    const char *text;
};
constexpr AlarmBit kAlarmBits[] = {
    {1, " Setpoint 1 "},  {2, " Setpoint 2 "},   {4, " Setpoint 3 "},
    {8, " Lost Signal "}, {16, " 4-20 Loop#1 "}, {32, " 4-20 Loop#2 "},
};
constexpr int kLoop2Bit = 32;

int byteAt(const QByteArray &block, int offset)
{
    return static_cast<std::uint8_t>(block.at(offset));
}

double meterFloatAt(const QByteArray &block, int offset)
{
    return decodeMeterFloat(byteAt(block, offset), byteAt(block, offset + 1),
                            byteAt(block, offset + 2), byteAt(block, offset + 3));
}

} // namespace

int decodeTotal(const QByteArray &block, int offset)
{
    return byteAt(block, offset) * 65536 + byteAt(block, offset + 1) * 4096 +
           byteAt(block, offset + 2) * 256 + byteAt(block, offset + 3);
}

QString totalText(int total, int position)
{
    const std::optional<double> factor = totalFactor(position);
    if (!factor)
        return QString::number(total);
    return valueText(total * *factor);
}

QString alarmText(double alarmValue, MeterType type)
{
    const double whole = std::floor(alarmValue);
    // A negative whole part comes from a negative zero (-1E-37 once decoded),
    // which would otherwise set every bit; beyond 32 bits there is no bit set.
    if (!(whole >= 0 && whole <= std::numeric_limits<std::int32_t>::max()))
        return QString();
    const auto bits = static_cast<std::int32_t>(whole);
    const bool loop2Shown = meterTypeInfo(type).showsLoop2Alarm;
    QString text;
    for (const AlarmBit &alarm : kAlarmBits) {
        if (alarm.bit == kLoop2Bit && !loop2Shown)
            continue;
        if (bits & alarm.bit)
            text += QLatin1String(alarm.text);
    }
    return text;
}

DisplayUpdate decodeDisplayBlock(const QByteArray &block, const DisplaySelection &selection)
{
    DisplayUpdate update;
    if (block.size() != kDisplayBlockSize)
        return update;

    const double flow = meterFloatAt(block, kFlowOffset) * flowFactor(selection.flowUnits);
    update.lines[0] =
        QStringLiteral("Flow = ") + formatFlowPattern(flow, flowDecimals(selection.flowFormat));

    const double velocity =
        meterFloatAt(block, kVelocityOffset) * velocityFactor(selection.velocityUnits);
    update.lines[1] = QStringLiteral("Velocity = ") + valueText(velocity);

    update.lines[2] = QStringLiteral("Forward Total = ") +
                      totalText(decodeTotal(block, kForwardTotalOffset), selection.totalUnits);
    if (meterTypeInfo(selection.type).showsReverseTotal) {
        update.lines[3] = QStringLiteral("Reverse Total = ") +
                          totalText(decodeTotal(block, kReverseTotalOffset), selection.totalUnits);
    }

    update.lines[kAlarmLine] = alarmText(meterFloatAt(block, kAlarmOffset), selection.type);
    return update;
}

void applyDisplayUpdate(const DisplayUpdate &update, DisplayView &view)
{
    for (int line = 0; line < kDisplayLineCount; ++line) {
        if (const auto &text = update.lines[static_cast<std::size_t>(line)])
            view.setLine(line, *text);
    }
}

} // namespace ostrand
