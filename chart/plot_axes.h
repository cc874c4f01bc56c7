#pragma once

#include <vector>

namespace ostrand {

// Round marks along a value axis.
struct AxisTicks {
    double step = 1;
    std::vector<double> values; // the multiples of step within [min, max], ascending
};

// Marks at a step of 1, 2 or 5 times a power of ten, at most about `maxTicks` of them in [min,
// max].
AxisTicks axisTicks(double min, double max, int maxTicks);

} // namespace ostrand
