#include "plot_axes.h"

#include "chart/value_scale.h"

#include <algorithm>
#include <cmath>

namespace ostrand {

AxisTicks axisTicks(double min, double max, int maxTicks)
{
    AxisTicks ticks;
    if (!(max > min) || !std::isfinite(min) || !std::isfinite(max))
        return ticks;
    ticks.step = niceStep((max - min) / std::max(maxTicks, 1));
    // niceStep rounds to the nearest, which may give one mark too many.
    if ((max - min) / ticks.step > std::max(maxTicks, 1) + 0.5)
        ticks.step = niceStep(ticks.step * 2);
    // Marks land on exact multiples, not on min plus a sum of steps that drifts.
    const double first = std::ceil(min / ticks.step - 1e-9);
    const double last = std::floor(max / ticks.step + 1e-9);
    for (double k = first; k <= last; ++k)
        ticks.values.push_back(std::abs(k) < 1e-12 ? 0.0 : k * ticks.step);
    return ticks;
}

} // namespace ostrand
