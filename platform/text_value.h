#pragma once

#include <QString>
#include <optional>

namespace ostrand {

// The value of a text's leading decimal number: leading blanks skipped, an
// optional sign, digits and fraction taken, the rest ignored; 0 when the text
// does not start with a number ("001" 1, "12ab" 12, "abc" 0, "-2.5x" -2.5).
double leadingNumber(const QString &text);

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// The leading number rounded halves-to-even, when it fits a 16-bit signed
// integer; nothing when it does not, so callers never store a wrapped value.
std::optional<qint16> leadingNumberAsInt16(const QString &text);

// A text that is a number as a whole (blanks around it allowed), rounded
// halves-to-even to a 16-bit signed integer; nothing for any other text.
std::optional<qint16> wholeTextAsInt16(const QString &text);

} // namespace ostrand
