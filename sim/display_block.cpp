#include "display_block.h"

#include "meter_float.h"
#include "process_model.h"

#include <algorithm>
#include <cmath>

namespace ostrand::sim {

namespace {

// Setpoint 1 trips on high flow, setpoint 2 on low flow: both show up over a day.
constexpr double kHighFlowSetpoint = 2.6;
constexpr double kLowFlowSetpoint = 1.4;

void append(QByteArray &out, const std::array<std::uint8_t, 4> &bytes)
{
    for (const std::uint8_t b : bytes)
        out.append(static_cast<char>(b));
}

} // namespace

std::array<std::uint8_t, 4> encodeTotal(std::int64_t total)
{
    std::int64_t rest = std::clamp<std::int64_t>(total, 0, kLargestTotal);
    const auto take = [&rest](std::int64_t weight) {
        const std::int64_t part = std::min<std::int64_t>(rest / weight, 255);
        rest -= part * weight;
        return static_cast<std::uint8_t>(part);
    };
    const std::uint8_t b0 = take(65536);
    const std::uint8_t b1 = take(4096);
    const std::uint8_t b2 = take(256);
    const std::uint8_t b3 = take(1);
    return {b0, b1, b2, b3};
}

QByteArray encodeDisplayBlock(const DisplayValues &values)
{
    QByteArray block;
    block.reserve(20);
    append(block, encodeMeterFloat(values.flowCfs));
    append(block, encodeMeterFloat(values.velocityFps));
    append(block, encodeTotal(values.forwardTotal));
    append(block, encodeTotal(values.reverseTotal));
    append(block, encodeMeterFloat(values.alarmBits));
    return block;
}

LiveProcess::LiveProcess(const QDateTime &startedAt, int extraAlarmBits)
    : totalsSince_(startedAt), forwardSeed_(152340.0), reverseSeed_(37.0),
      extraAlarmBits_(extraAlarmBits)
{
}

DisplayValues LiveProcess::valuesAt(const QDateTime &now) const
{
    const double t = meterSeconds(now);
    DisplayValues v;
    v.flowCfs = process::flowCfs(t);
    v.velocityFps = process::velocityFps(t);
    // The site never flows backwards, so the reverse total just keeps its old reading.
    v.forwardTotal = std::int64_t(
        std::floor(forwardSeed_ + std::max(0.0, process::volumeCf(meterSeconds(totalsSince_), t))));
    v.reverseTotal = std::int64_t(reverseSeed_);
    v.alarmBits = extraAlarmBits_;
    if (v.flowCfs > kHighFlowSetpoint)
        v.alarmBits |= kAlarmSetpoint1;
    if (v.flowCfs < kLowFlowSetpoint)
        v.alarmBits |= kAlarmSetpoint2;
    return v;
}

void LiveProcess::clearTotals(const QDateTime &now)
{
    totalsSince_ = now;
    forwardSeed_ = 0.0;
    reverseSeed_ = 0.0;
}

} // namespace ostrand::sim
