#include "value_scale.h"

#include <algorithm>
#include <cmath>

namespace ostrand {

void ValueSpan::include(double value)
{
    min = used ? std::min(min, value) : value;
    max = used ? std::max(max, value) : value;
    used = true;
}

double niceStep(double rough)
{
    if (!(rough > 0) || !std::isfinite(rough))
        return 1;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    const double fraction = rough / magnitude;
    const double nice = fraction < 1.5 ? 1 : fraction < 3 ? 2 : fraction < 7 ? 5 : 10;
    return nice * magnitude;
}

ValueSpan roundedOutward(ValueSpan span, int ticks)
{
    if (span.max - span.min <= 0) {
        const double pad = std::max(std::abs(span.min) * 0.1, 1.0);
        span.min -= pad;
        span.max += pad;
    }
    const double margin = (span.max - span.min) * 0.02;
    span.min -= margin;
    span.max += margin;
    const double step = niceStep((span.max - span.min) / std::max(ticks, 1));
    span.min = std::floor(span.min / step) * step;
    span.max = std::ceil(span.max / step) * step;
    return span;
}

} // namespace ostrand
