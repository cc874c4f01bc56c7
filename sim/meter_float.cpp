#include "meter_float.h"

#include <cmath>
#include <cstring>

namespace ostrand::sim {

MeterFloatBytes encodeMeterFloat(double value)
{
    // Readers treat exponent fields 0 and 1 as zero, a negative one as -1E-37; a tiny
    // value is stored as a plain +0 so no reader turns a near-zero reading negative.
    constexpr double smallestNormal = 1.1754943508222875e-38 * 2.0; // 2^-125: exponent field 2
    if (std::isnan(value) || std::fabs(value) < smallestNormal)
        value = 0.0;
    if (value > kMeterFloatLimit)
        value = kMeterFloatLimit;
    if (value < -kMeterFloatLimit)
        value = -kMeterFloatLimit;

    const float single = static_cast<float>(value);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &single, sizeof bits);
    return {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
            static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
}

} // namespace ostrand::sim
