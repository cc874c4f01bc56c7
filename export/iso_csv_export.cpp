#include "reading_export.h"

#include "store/label_text.h"
#include "store/time_text.h"
#include "export/reading_instants.h"
#include "table/channel.h"
#include "table/meter_float.h"

#include <array>
#include <bitset>
#include <cstdlib>

namespace ostrand::collect {
namespace {

// RFC 4180: a field holding the separator, a quote or a line end is quoted.
void appendField(QByteArray &out, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r')) {
        out += bytes;
        return;
    }
    out += '"';
    for (const char c : bytes) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

char *twoDigits(char *out, int value)
{
    *out++ = char('0' + value / 10);
    *out++ = char('0' + value % 10);
    return out;
}

// "+01:00", "-05:00"; nothing when the offset is not known.
void appendOffset(QByteArray &out, std::optional<int> seconds)
{
    if (!seconds)
        return;
    const int minutes = std::abs(*seconds) / 60;
    char text[8];
    text[0] = *seconds < 0 ? '-' : '+';
    char *at = twoDigits(text + 1, minutes / 60);
    *at++ = ':';
    at = twoDigits(at, minutes % 60);
    out.append(text, at - text);
}

} // namespace

QByteArray isoCsv(const std::vector<StoredReading> &readings)
{
    std::array<QString, kChannelCount> labels;
    std::array<QString, kChannelCount> units;
    std::bitset<kChannelCount> used;
    for (const StoredReading &reading : readings) {
        if (reading.channel >= 1 && reading.channel <= kChannelCount) {
            used.set(reading.channel - 1);
            labels[reading.channel - 1] = reading.label;
            units[reading.channel - 1] = reading.unit;
        }
    }
    // A store written before labels were cleaned may still hold a line break or a NUL.
    for (int k = 0; k < kChannelCount; ++k) {
        labels[k] = withoutControlCharacters(labels[k]);
        units[k] = withoutControlCharacters(units[k]);
    }
    QByteArray out;
    out.reserve(qsizetype(readings.size()) * 12 + 64);
    out += "Time (UTC),Offset";
    for (int k = 1; k <= kChannelCount; ++k) {
        if (used[k - 1]) {
            out += ',';
            appendField(out, labels[k - 1].isEmpty() ? QStringLiteral("Channel %1").arg(k) : labels[k - 1]);
        }
    }
    out += "\r\n,";
    for (int k = 1; k <= kChannelCount; ++k) {
        if (used[k - 1]) {
            out += ',';
            appendField(out, units[k - 1]);
        }
    }
    out += "\r\n";

    for (const Instant &instant : readingInstants(readings)) {
        const StoredReading &first = readings[instant.begin];
        appendUtcText(out, first.timeUtc);
        out += ',';
        appendOffset(out, readingOffsetSeconds(first));
        std::array<const StoredReading *, kChannelCount> values{};
        for (size_t r = instant.begin; r < instant.end; ++r) {
            if (readings[r].channel >= 1 && readings[r].channel <= kChannelCount)
                values[readings[r].channel - 1] = &readings[r];
        }
        for (int k = 1; k <= kChannelCount; ++k) {
            if (!used[k - 1])
                continue;
            out += ',';
            if (values[k - 1])
                out += valueText(values[k - 1]->value).toLatin1();
        }
        out += "\r\n";
    }
    return out;
}

} // namespace ostrand::collect
