#include "meter_type.h"

#include <array>

namespace ostrand {
namespace {

// The R1900 Portable has no "[MeterType]" value of its own: the settings keep
// 0 for it, so a restart comes back to the 7700 Series.
const std::array<MeterTypeInfo, kMeterTypeCount> kTypes = {{
    {"7700 Series", PollKind::TextDisplay, 1, 750, false, true, false, false, false, 0},
    {"8100 ", PollKind::DisplayBlock, 2, 1000, false, false, true, false, false, 1},
    {"8300 ", PollKind::DisplayBlock, 2, 1000, false, false, true, true, true, 2},
    {"R1900 Portable", PollKind::DisplayBlock, 3, 1000, true, false, true, false, false, 0},
}};

} // namespace

const MeterTypeInfo &meterTypeInfo(MeterType type)
{
    return kTypes[static_cast<std::size_t>(type)];
}

std::optional<MeterType> meterTypeFromIndex(int index)
{
    if (index < 0 || index >= kMeterTypeCount)
        return std::nullopt;
    return static_cast<MeterType>(index);
}

} // namespace ostrand
