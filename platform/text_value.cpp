#include "text_value.h"

#include <cmath>
#include <limits>

namespace ostrand {
namespace {

struct NumberScan {
    double value = 0;
    int end = 0;       // index just past the number
    bool found = false; // at least one digit was taken
};

NumberScan scanNumber(const QString &text, int pos)
{
    NumberScan scan;
    const int n = text.size();
    QString digits;
    if (pos < n && (text[pos] == u'+' || text[pos] == u'-')) {
        digits += text[pos];
        ++pos;
    }
    int mantissaDigits = 0;
    while (pos < n && text[pos].isDigit() && text[pos].unicode() < 128) {
        digits += text[pos++];
        ++mantissaDigits;
    }
    if (pos < n && text[pos] == u'.') {
        digits += u'.';
        ++pos;
        while (pos < n && text[pos].isDigit() && text[pos].unicode() < 128) {
            digits += text[pos++];
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return scan;
    bool ok = false;
    scan.value = digits.toDouble(&ok);
    scan.found = ok;
    scan.end = pos;
    return scan;
}

int skipBlanks(const QString &text, int pos)
{
    while (pos < text.size() && (text[pos] == u' ' || text[pos] == u'\t'))
        ++pos;
    return pos;
}

std::optional<qint16> toInt16(double value)
{
    const double rounded = roundHalfEven(value);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<qint16>::min()
        || rounded > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<qint16>(rounded);
}

} // namespace

double leadingNumber(const QString &text)
{
    const NumberScan scan = scanNumber(text, skipBlanks(text, 0));
    return scan.found ? scan.value : 0.0;
}

double roundHalfEven(double value)
{
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff < 0.5)
        return floor;
    if (diff > 0.5)
        return floor + 1;
    return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

std::optional<qint16> leadingNumberAsInt16(const QString &text)
{
    return toInt16(leadingNumber(text));
}

std::optional<qint16> wholeTextAsInt16(const QString &text)
{
    const NumberScan scan = scanNumber(text, skipBlanks(text, 0));
    if (!scan.found || skipBlanks(text, scan.end) != text.size())
        return std::nullopt;
    return toInt16(scan.value);
}

} // namespace ostrand
