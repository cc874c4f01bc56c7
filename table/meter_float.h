#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand {

// The meter's four-byte float, b1 most significant (only the low 8 bits of each
// argument count), with the meter's limits: a tiny exponent gives 0, or -1E-37
// when the sign is set; a huge one gives +/-1E37; a positive value above 1E37
// is held at 1E37.
double decodeMeterFloat(int b1, int b2, int b3, int b4);

// The general decimal text of a value, as every machine writes it: up to 15
// significant digits, '.' as the point, exponent form ("1E+37", "2.5E-05")
// when the decimal exponent is below -4 or at least 15.
QString valueText(double value);

// The text of a total: the value rounded down to a whole number, then as valueText.
QString totalValueText(double value);

} // namespace ostrand
