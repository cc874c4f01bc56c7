#include "meter_float.h"

#include <charconv>
#include <cmath>

namespace ostrand {
namespace {

constexpr double kMeterLimit = 1e37;
constexpr double kNegativeTiny = -1e-37;

} // namespace

double decodeMeterFloat(int b1, int b2, int b3, int b4)
{
    b1 &= 0xFF;
    b2 &= 0xFF;
    b3 &= 0xFF;
    b4 &= 0xFF;
    const bool negative = (b1 & 0x80) != 0;
    const int exponent = 2 * (b1 & 0x7F) + (b2 >> 7);
    // The meter never stores denormals; what would be one is its way of writing
    // zero, and a set sign there marks a reading just below zero.
    if (exponent < 2)
        return negative ? kNegativeTiny : 0.0;
    if (exponent > 252)
        return negative ? -kMeterLimit : kMeterLimit;
    const double mantissa = double((b2 | 0x80) * 65536 + b3 * 256 + b4);
    // mantissa / 2^24 * 2^(exponent - 126), exact in a double.
    const double magnitude = std::ldexp(mantissa, exponent - 150);
    if (negative)
        return -magnitude;
    return magnitude > kMeterLimit ? kMeterLimit : magnitude;
}

QString valueText(double value)
{
    // to_chars ignores every locale setting, so a log gives the same file on
    // any machine; it is also about twice as fast as QString::number here.
    if (value == 0)
        value = 0; // no "-0"
    char text[32];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    for (char *c = text; c != end.ptr; ++c) {
        if (*c == 'e')
            *c = 'E';
    }
    return QString::fromLatin1(text, end.ptr - text);
}

QString totalValueText(double value)
{
    return valueText(std::floor(value));
}

} // namespace ostrand
