#pragma once

#include <array>
#include <cstdint>

namespace ostrand::sim {

// The meter's four-byte float: IEEE single precision, most significant byte first.
using MeterFloatBytes = std::array<std::uint8_t, 4>;

// Largest magnitude the meter stores; anything above reads back as this limit.
constexpr double kMeterFloatLimit = 1e37;

// Encodes `value` the way the meter stores it: clamped to ±1E37, magnitudes too small
// for a normal single-precision number (and NaN) stored as +0.
MeterFloatBytes encodeMeterFloat(double value);

} // namespace ostrand::sim
