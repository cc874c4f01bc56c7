#include "mqtt_payloads.h"

#include "store/time_text.h"

#include <QLocale>
#include <cmath>

namespace ostrand::publish {
namespace {

void appendJsonString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[u >> 4];
                out += hex[u & 0xf];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// The shortest text that reads back as the same double, so a consumer gets
// the stored value exactly.
void appendNumber(QByteArray &out, double value)
{
    if (!std::isfinite(value))
        out += "null";
    else
        out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

void appendReading(QByteArray &out, const collect::StoredReading &reading)
{
    out += "{\"channel\":";
    out += QByteArray::number(reading.channel);
    out += ",\"label\":";
    appendJsonString(out, reading.label);
    out += ",\"unit\":";
    appendJsonString(out, reading.unit);
    out += ",\"time\":\"";
    collect::appendUtcText(out, reading.timeUtc);
    out += "\",\"value\":";
    appendNumber(out, reading.value);
    out += '}';
}

void appendOptionalTime(QByteArray &out, const std::optional<QDateTime> &time)
{
    if (!time || !time->isValid()) {
        out += "null";
        return;
    }
    out += '"';
    collect::appendUtcText(out, *time);
    out += '"';
}

} // namespace

std::vector<ReadingsMessage> readingsMessages(const QString &station,
                                              const std::vector<collect::OutboxEntry> &entries, int maxBytes)
{
    QByteArray head = "{\"station\":";
    appendJsonString(head, station);
    head += ",\"readings\":[";
    const QByteArray tail = "]}";

    std::vector<ReadingsMessage> messages;
    ReadingsMessage current;
    QByteArray item;
    for (const collect::OutboxEntry &entry : entries) {
        item.clear();
        appendReading(item, entry.reading);
        const bool first = current.outboxIds.empty();
        const qsizetype grown = (first ? head.size() : current.payload.size() + 1) + item.size() + tail.size();
        // A reading that would not fit even alone still goes, alone: labels are
        // short, so it cannot happen with what a meter gives.
        if (!first && grown > maxBytes) {
            current.payload += tail;
            messages.push_back(std::move(current));
            current = ReadingsMessage{};
        }
        current.payload += current.outboxIds.empty() ? head : QByteArray(",");
        current.payload += item;
        current.outboxIds.push_back(entry.id);
    }
    if (!current.outboxIds.empty()) {
        current.payload += tail;
        messages.push_back(std::move(current));
    }
    return messages;
}

QByteArray statusPayload(const collect::StationHealth &health)
{
    QByteArray out = "{\"station\":";
    appendJsonString(out, health.name);
    out += ",\"state\":";
    appendJsonString(out, collect::stateName(health.state));
    out += ",\"lastSuccess\":";
    appendOptionalTime(out, health.lastOkUtc);
    out += ",\"lastAttempt\":";
    appendOptionalTime(out, health.lastAttemptUtc);
    out += ",\"lastReading\":";
    if (health.lastReading.isEmpty())
        out += "null";
    else
        appendJsonString(out, health.lastReading);
    out += ",\"lastError\":";
    if (health.lastError.isEmpty())
        out += "null";
    else
        appendJsonString(out, health.lastError);
    out += '}';
    return out;
}

QByteArray lastPayload(const QString &station, const std::vector<collect::StoredReading> &newestByChannel)
{
    QByteArray out = "{\"station\":";
    appendJsonString(out, station);
    out += ",\"channels\":[";
    bool first = true;
    for (const collect::StoredReading &reading : newestByChannel) {
        if (!first)
            out += ',';
        first = false;
        appendReading(out, reading);
    }
    out += "]}";
    return out;
}

QString stationTopic(const QString &pattern, const QString &station)
{
    QString topic = pattern;
    topic.replace(QStringLiteral("{station}"), station);
    return topic;
}

} // namespace ostrand::publish
