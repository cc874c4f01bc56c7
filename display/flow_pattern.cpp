#include "flow_pattern.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace ostrand {
namespace {

constexpr int kSignificantDigits = 15;

// The magnitude's 15 significant digits and the decimal exponent of the first.
struct DecimalDigits {
    std::string digits;
    int exponent = 0;
};

DecimalDigits decimalDigits(double magnitude)
{
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, magnitude,
                                   std::chars_format::scientific, kSignificantDigits - 1);
    const std::string all(text, end.ptr);
    const auto e = all.find('e');
    DecimalDigits out;
    out.digits = all.substr(0, 1) + all.substr(2, e - 2);
    out.exponent = std::stoi(all.substr(e + 1));
    return out;
}

// Adds one to a string of decimal digits, carrying as far as needed.
void increment(std::string &number)
{
    for (auto it = number.rbegin(); it != number.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    number.insert(number.begin(), '1');
}

// The magnitude times 10^decimals, rounded half away from zero, as decimal digits.
std::string scaledAndRounded(double magnitude, int decimals)
{
    const DecimalDigits d = decimalDigits(magnitude);
    // Digits from the first significant one down to the last decimal kept.
    const int keep = d.exponent + 1 + decimals;
    if (keep < 0)
        return "0";
    std::string kept =
        d.digits.substr(0, static_cast<std::size_t>(std::min(keep, kSignificantDigits)));
    if (keep > kSignificantDigits)
        kept.append(static_cast<std::size_t>(keep - kSignificantDigits), '0');
    const char next = keep < kSignificantDigits ? d.digits[static_cast<std::size_t>(keep)] : '0';
    if (kept.empty())
        kept = "0";
    if (next >= '5')
        increment(kept);
    return kept;
}

} // namespace

QString formatFlowPattern(double value, int decimals)
{
    // The meter's limits keep products finite; anything else has no digits to round.
    if (!std::isfinite(value))
        return QString::number(value);
    decimals = std::clamp(decimals, 0, 3);
    std::string scaled = scaledAndRounded(std::fabs(value), decimals);
    if (scaled.size() <= static_cast<std::size_t>(decimals))
        scaled.insert(0, static_cast<std::size_t>(decimals) + 1 - scaled.size(), '0');
    std::string whole = scaled.substr(0, scaled.size() - static_cast<std::size_t>(decimals));
    std::string fraction = scaled.substr(whole.size());
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    fraction.erase(fraction.find_last_not_of('0') + 1);

    std::string text = value < 0 ? "-" : "";
    text += whole + "." + fraction;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace ostrand
