#include "log_pointers.h"

#include "table/meter_float.h"

#include <cmath>

namespace ostrand {
namespace {

quint8 at(const QByteArray &bytes, int index)
{
    return index < bytes.size() ? static_cast<quint8>(bytes[index]) : 0;
}

QString countText(const QByteArray &bytes, int first)
{
    const double value = decodeMeterFloat(at(bytes, first), at(bytes, first + 1), at(bytes, first + 2),
                                          at(bytes, first + 3));
    if (value > 65536 || value < -65536)
        return QStringLiteral("Error");
    return QString::number(static_cast<qint64>(std::floor(value)));
}

// The portable meter puts everything one byte earlier.
int shiftFor(bool portable)
{
    return portable ? 0 : 1;
}

} // namespace

LogPointers parseLogPointers(const QByteArray &registers, bool portable)
{
    const int shift = shiftFor(portable);
    LogPointers pointers;
    pointers.registers = registers;
    pointers.portable = portable;
    pointers.start = LogAddress{at(registers, shift), at(registers, shift + 1), at(registers, shift + 2)};
    pointers.end = LogAddress{at(registers, shift + 4), at(registers, shift + 5), at(registers, shift + 6)};
    return pointers;
}

QString LogPointers::recordsUsedText() const
{
    return countText(registers, shiftFor(portable) + 7);
}

QString LogPointers::recordsAvailableText() const
{
    return countText(registers, shiftFor(portable) + 11);
}

const LogCursor &earlierCursor(const LogCursor &a, const LogCursor &b, const LogPointers &pointers)
{
    if (!pointers.holds(a.address))
        return a;
    if (!pointers.holds(b.address))
        return b;
    return logDistance(pointers.start, b.address) < logDistance(pointers.start, a.address) ? b : a;
}

} // namespace ostrand
