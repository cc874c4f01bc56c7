#include "site_json.h"

#include "store/time_text.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace ostrand::web {
namespace {

QJsonValue timeOrNull(const std::optional<QDateTime> &time)
{
    return time && time->isValid() ? QJsonValue(collect::utcText(*time)) : QJsonValue(QJsonValue::Null);
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

} // namespace

QJsonObject stationJson(const FleetRow &row)
{
    const collect::StationHealth &h = row.health;
    QJsonArray hours;
    for (const HourCell &cell : row.hours)
        hours.append(QJsonObject{{QStringLiteral("start"), collect::utcText(cell.startUtc)},
                                 {QStringLiteral("attempts"), cell.attempts},
                                 {QStringLiteral("failures"), cell.failures},
                                 {QStringLiteral("state"), hourStateName(cell.state)}});
    QJsonArray days;
    for (const DayCell &day : row.days)
        days.append(QJsonObject{{QStringLiteral("date"), day.date.toString(Qt::ISODate)},
                                {QStringLiteral("instants"), day.instants},
                                {QStringLiteral("expected"), day.expected},
                                {QStringLiteral("whole"), day.whole}});
    QJsonValue connected(QJsonValue::Null);
    if (h.callIn)
        connected = h.callIn->line && h.callIn->line->connected && !h.callIn->unconfirmed;
    return QJsonObject{
        {QStringLiteral("name"), row.stationName},
        {QStringLiteral("state"), collect::stateName(h.state)},
        {QStringLiteral("last_success"), timeOrNull(h.lastOkUtc)},
        {QStringLiteral("age_seconds"), h.lastOkUtc ? QJsonValue(double(h.ageSeconds)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("last_attempt"), timeOrNull(h.lastAttemptUtc)},
        {QStringLiteral("last_reading"), timeOrNull(row.lastReadingUtc)},
        {QStringLiteral("last_error"), textOrNull(h.lastError)},
        {QStringLiteral("connected"), connected},
        {QStringLiteral("connection"), textOrNull(connectionText(h))},
        {QStringLiteral("interval_seconds"), double(h.intervalMs / 1000)},
        {QStringLiteral("attempts_24h"), h.attempts},
        {QStringLiteral("failures_24h"), h.failures},
        {QStringLiteral("hours"), hours},
        {QStringLiteral("day_counts_kept"), row.dayCountsKept},
        {QStringLiteral("days"), days},
    };
}

QByteArray stationsJson(const std::vector<FleetRow> &rows, const QDateTime &nowUtc, qint64 staleAfterSeconds)
{
    QJsonArray stations;
    for (const FleetRow &row : rows)
        stations.append(stationJson(row));
    const QJsonObject top{{QStringLiteral("now"), collect::utcText(nowUtc)},
                          {QStringLiteral("stale_after_seconds"), double(staleAfterSeconds)},
                          {QStringLiteral("stations"), stations}};
    return QJsonDocument(top).toJson(QJsonDocument::Compact);
}

} // namespace ostrand::web
