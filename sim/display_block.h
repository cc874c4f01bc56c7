#pragma once

#include <QByteArray>
#include <QDateTime>
#include <array>
#include <cstdint>

namespace ostrand::sim {

// Alarm bits of the display block.
constexpr int kAlarmSetpoint1 = 1;
constexpr int kAlarmSetpoint2 = 2;
constexpr int kAlarmSetpoint3 = 4;
constexpr int kAlarmLostSignal = 8;
constexpr int kAlarmLoop1 = 16;
constexpr int kAlarmLoop2 = 32;

// The largest total the four total bytes can carry (255*65536 + 255*4096 + 255*256 + 255).
constexpr std::int64_t kLargestTotal = 17821695;

// What the block-polled meters report in one display block.
struct DisplayValues {
    double flowCfs = 0.0;
    double velocityFps = 0.0;
    std::int64_t forwardTotal = 0; // cubic feet
    std::int64_t reverseTotal = 0; // cubic feet
    int alarmBits = 0;
};

// The four total bytes b0..b3 with b0*65536 + b1*4096 + b2*256 + b3 = `total`, clamped to
// 0..kLargestTotal; the middle bytes stay below 16 while the total allows.
std::array<std::uint8_t, 4> encodeTotal(std::int64_t total);

// The 20-byte display block: flow and velocity as meter floats, forward and reverse totals,
// then the alarm bits as a meter float.
QByteArray encodeDisplayBlock(const DisplayValues &values);

// The live readings of the simulated site for the display (as opposed to the log).
class LiveProcess {
public:
    // Totals start at their seed readings at `startedAt`; `extraAlarmBits` are always on.
    explicit LiveProcess(const QDateTime &startedAt, int extraAlarmBits = 0);

    // Everything the display block carries at `now`.
    DisplayValues valuesAt(const QDateTime &now) const;
    // Zeroes both totals from `now` on (the keypad's "Clear Totals").
    void clearTotals(const QDateTime &now);

private:
    QDateTime totalsSince_;
    double forwardSeed_;
    double reverseSeed_;
    int extraAlarmBits_;
};

} // namespace ostrand::sim
