#include "svg_axes.h"

#include <cmath>

namespace ostrand::web {

std::vector<double> axisTicks(double low, double high)
{
    if (!std::isfinite(low) || !std::isfinite(high))
        return {0, 1};
    if (high - low < 1e-12) {
        const double pad = std::abs(low) > 1e-12 ? std::abs(low) * 0.1 : 1;
        low -= pad;
        high += pad;
    }
    const double rough = (high - low) / 5;
    const double power = std::pow(10, std::floor(std::log10(rough)));
    double step = power;
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * power;
        if (step >= rough)
            break;
    }
    std::vector<double> ticks;
    for (double t = std::floor(low / step) * step; t < high + step * 0.999; t += step)
        ticks.push_back(std::abs(t) < step * 1e-9 ? 0 : t);
    return ticks;
}

QString svgNumber(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace ostrand::web
