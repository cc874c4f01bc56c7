#pragma once

#include <QString>

namespace ostrand {

// `value` in the flow's number pattern with at most `decimals` decimals ("#."
// for 0 to "#.###" for 3): no digit before the point for a value below 1, the
// point always written as '.', trailing zeros dropped, a leading '-' for a
// negative value. Rounding is to the decimal digits the value is shown with
// (15 significant), halves away from zero: 2.675 gives 2.68 although its
// double lies just below.
QString formatFlowPattern(double value, int decimals);

} // namespace ostrand
