#include "reading_export.h"

#include "store/label_text.h"
#include "table/meter_float.h"

namespace ostrand::collect {
namespace {

// A tag value as the line protocol needs it: comma, equals sign and space
// escaped with a backslash, and the backslash itself, or a label ending in
// one would escape the separator after it. Control characters are replaced
// first: a line feed cannot be escaped at all and would end the point early.
QByteArray tagValue(const QString &text)
{
    QByteArray out;
    for (const char c : withoutControlCharacters(text).toUtf8()) {
        if (c == ',' || c == '=' || c == ' ' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

} // namespace

QByteArray influxLines(const std::vector<StoredReading> &readings)
{
    QByteArray out;
    out.reserve(qsizetype(readings.size()) * 80);
    // Labels and stations repeat on every line: escaped once while they stay the same.
    QString station;
    QByteArray stationTag;
    QString label;
    QByteArray labelTag;
    for (const StoredReading &reading : readings) {
        if (stationTag.isEmpty() || reading.station != station) {
            station = reading.station;
            stationTag = tagValue(station);
        }
        if (reading.label != label || labelTag.isEmpty()) {
            label = reading.label;
            labelTag = tagValue(label);
        }
        out += "flow,channel=";
        out += QByteArray::number(reading.channel);
        if (!labelTag.isEmpty()) {
            out += ",label=";
            out += labelTag;
        }
        if (!stationTag.isEmpty()) {
            out += ",station=";
            out += stationTag;
        }
        out += " value=";
        out += valueText(reading.value).toLatin1();
        out += ' ';
        out += QByteArray::number(reading.timeUtc.toMSecsSinceEpoch() * 1000000);
        out += '\n';
    }
    return out;
}

} // namespace ostrand::collect
