#pragma once

#include <QPointF>

#include <vector>

namespace ostrand {

// The span of some values, grown one value at a time.
struct ValueSpan {
    double min = 0;
    double max = 0;
    bool used = false;

    void include(double value);
};

// A step of 1, 2 or 5 times a power of ten near `rough`; 1 for a step that is not positive.
double niceStep(double rough);

// `span` widened to round numbers for an axis of about `ticks` steps, with some
// room above and below; a span of one value is widened around it.
ValueSpan roundedOutward(ValueSpan span, int ticks);

} // namespace ostrand
