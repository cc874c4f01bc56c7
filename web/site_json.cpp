#include "site_json.h"

#include "store/time_text.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace ostrand::web {
namespace {

// A text as a JSON string, escaped by Qt's own writer.
QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray textOrNull(const QString &text)
{
    return text.isEmpty() ? QByteArrayLiteral("null") : jsonString(text);
}

// Our own UTC texts: digits, dashes, colons, T and Z, nothing to escape.
QByteArray timeOrNull(const std::optional<QDateTime> &time)
{
    if (!time || !time->isValid())
        return QByteArrayLiteral("null");
    QByteArray text = "\"";
    collect::appendUtcText(text, *time);
    return text + '"';
}

void field(QByteArray &out, const char *name, const QByteArray &value, bool first = false)
{
    if (!first)
        out += ',';
    out += '"';
    out += name;
    out += "\":";
    out += value;
}

} // namespace

// Written by hand around Qt's escaping of each text: a fleet's thousand rows
// of 114 cells each took Qt's JSON objects most of a second.
QByteArray stationJsonText(const FleetRow &row)
{
    const collect::StationHealth &h = row.health;
    QByteArray out;
    out.reserve(6000);
    out += '{';
    field(out, "name", jsonString(row.stationName), true);
    field(out, "state", jsonString(collect::stateName(h.state)));
    field(out, "last_success", timeOrNull(h.lastOkUtc));
    field(out, "age_seconds",
          h.lastOkUtc ? QByteArray::number(h.ageSeconds) : QByteArrayLiteral("null"));
    field(out, "last_attempt", timeOrNull(h.lastAttemptUtc));
    field(out, "last_reading", timeOrNull(row.lastReadingUtc));
    field(out, "last_error", textOrNull(h.lastError));
    // As `status --json` gives it: null for a station we call and for a line not confirmed lately.
    QByteArray connected = "null";
    if (h.callIn && !h.callIn->unconfirmed)
        connected = h.callIn->line && h.callIn->line->connected ? "true" : "false";
    field(out, "connected", connected);
    field(out, "connection", textOrNull(connectionText(h)));
    field(out, "interval_seconds", QByteArray::number(h.intervalMs / 1000));
    field(out, "attempts_24h", QByteArray::number(h.attempts));
    field(out, "failures_24h", QByteArray::number(h.failures));
    out += ",\"hours\":[";
    for (size_t i = 0; i < row.hours.size(); ++i) {
        const HourCell &cell = row.hours[i];
        out += i ? ",{\"start\":\"" : "{\"start\":\"";
        collect::appendUtcText(out, cell.startUtc);
        out += "\",\"attempts\":";
        out += QByteArray::number(cell.attempts);
        out += ",\"failures\":";
        out += QByteArray::number(cell.failures);
        out += ",\"state\":\"";
        out += hourStateName(cell.state).toLatin1();
        out += "\"}";
    }
    out += ']';
    field(out, "day_counts_kept", row.dayCountsKept ? "true" : "false");
    out += ",\"days\":[";
    for (size_t i = 0; i < row.days.size(); ++i) {
        const DayCell &day = row.days[i];
        out += i ? ",{\"date\":\"" : "{\"date\":\"";
        appendIsoDate(out, day.date);
        out += "\",\"instants\":";
        out += QByteArray::number(day.instants);
        out += ",\"expected\":";
        out += QByteArray::number(day.expected);
        out += day.whole ? ",\"whole\":true}" : ",\"whole\":false}";
    }
    out += "]}";
    return out;
}

QJsonObject stationJson(const FleetRow &row)
{
    return QJsonDocument::fromJson(stationJsonText(row)).object();
}

QByteArray stationsJson(const std::vector<FleetRow> &rows, const QDateTime &nowUtc,
                        qint64 staleAfterSeconds)
{
    QByteArray out = "{\"now\":\"";
    collect::appendUtcText(out, nowUtc);
    out +=
        "\",\"stale_after_seconds\":" + QByteArray::number(staleAfterSeconds) + ",\"stations\":[";
    out.reserve(int(rows.size()) * 6000 + 200);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i)
            out += ',';
        out += stationJsonText(rows[i]);
    }
    out += "]}";
    return out;
}

} // namespace ostrand::web
