#pragma once

#include <QString>
#include <vector>

namespace ostrand::web {

// Between four and eight round values (steps of 1, 2 or 5 times a power of
// ten) covering [low, high]; a flat range is widened so it has a height.
std::vector<double> axisTicks(double low, double high);

// A coordinate as SVG takes it: one decimal, no exponent.
QString svgNumber(double value);

} // namespace ostrand::web
