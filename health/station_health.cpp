#include "station_health.h"

#include "store/outbox_backlog.h"
#include "store/run_result.h"
#include "store/time_text.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace ostrand::collect {
namespace {

constexpr qint64 kCountedSeconds = 24 * 3600;

QString hours(qint64 seconds)
{
    return QString::number(double(seconds) / 3600, 'f', 1);
}

QJsonValue timeOrNull(const std::optional<QDateTime> &time)
{
    return time ? QJsonValue(utcText(*time)) : QJsonValue(QJsonValue::Null);
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

} // namespace

std::vector<StationHealth> stationHealth(const std::vector<StationRow> &stations,
                                         const std::vector<CollectionRow> &collections, const QDateTime &nowUtc,
                                         qint64 staleAfterSeconds)
{
    const QDateTime countedFrom = nowUtc.addSecs(-kCountedSeconds);
    const QString failed = runResultText(RunResult::Failed), ok = runResultText(RunResult::Ok);
    // By station once: a fleet's day of runs is tens of thousands of rows.
    QHash<QString, std::vector<const CollectionRow *>> runsOf;
    for (const CollectionRow &run : collections)
        runsOf[run.station].push_back(&run);
    std::vector<StationHealth> result;
    for (const StationRow &station : stations) {
        StationHealth health;
        health.name = station.name;
        health.lastOkUtc = station.lastOkUtc;
        health.lastAttemptUtc = station.lastAttemptUtc;
        health.lastError = station.lastError;
        if (station.lastOkUtc)
            health.ageSeconds = station.lastOkUtc->secsTo(nowUtc);
        health.stale = !station.lastOkUtc || health.ageSeconds > staleAfterSeconds;
        health.state = stationState(health);
        for (const CollectionRow *each : runsOf.value(station.name)) {
            const CollectionRow &run = *each;
            if (run.startedUtc < countedFrom || run.startedUtc > nowUtc)
                continue;
            health.attempts += run.attempts;
            if (run.result == failed)
                health.failures += run.attempts;
            else if (run.result == ok && run.attempts > 1)
                health.failures += run.attempts - 1;
        }
        result.push_back(health);
    }
    return result;
}

QString stateName(StationState state)
{
    switch (state) {
    case StationState::Stale: return QStringLiteral("Stale");
    case StationState::Failing: return QStringLiteral("Failing");
    case StationState::Late: return QStringLiteral("Late");
    case StationState::Ok: return QStringLiteral("OK");
    }
    return {};
}

StationState stationState(const StationHealth &health)
{
    if (health.stale || !health.lastOkUtc)
        return StationState::Stale;
    // A run that succeeds records its attempt and its success at one time and
    // clears the error; the store keeps whole seconds, so a failure in the
    // same second as a success is told by the error it left.
    if (health.lastAttemptUtc && (*health.lastAttemptUtc > *health.lastOkUtc ||
                                  (*health.lastAttemptUtc == *health.lastOkUtc && !health.lastError.isEmpty())))
        return StationState::Failing;
    // Compared in milliseconds, so exactly one and a half intervals is not yet late.
    if (health.intervalMs > 0 && health.ageSeconds * 1000 * 2 > health.intervalMs * 3)
        return StationState::Late;
    return StationState::Ok;
}

void setInterval(StationHealth &health, qint64 intervalMs)
{
    health.intervalMs = intervalMs;
    health.state = stationState(health);
}

CallInHealth callInHealth(const std::optional<CallInState> &recorded, const QDateTime &nowUtc)
{
    CallInHealth health{recorded, false};
    health.unconfirmed = recorded && recorded->connected && recorded->recordedUtc.secsTo(nowUtc) > kCallInConfirmSeconds;
    return health;
}

namespace {

QString callInText(const CallInHealth &callIn)
{
    if (!callIn.line)
        return QStringLiteral("never called in");
    const CallInState &line = *callIn.line;
    QString text = line.connected
                       ? QStringLiteral("connected since %1 from %2").arg(utcText(line.sinceUtc), line.peer)
                       : QStringLiteral("not connected since %1 (last call from %2)").arg(utcText(line.sinceUtc), line.peer);
    if (callIn.unconfirmed)
        text += QStringLiteral(", not confirmed since %1").arg(utcText(line.recordedUtc));
    return text + QStringLiteral(", last heard %1").arg(utcText(line.heardUtc));
}

QJsonObject callInJson(const CallInHealth &callIn)
{
    const std::optional<CallInState> &line = callIn.line;
    const auto time = [&](QDateTime CallInState::*field) {
        return line ? QJsonValue(utcText((*line).*field)) : QJsonValue(QJsonValue::Null);
    };
    return QJsonObject{
        {QStringLiteral("connected"), callIn.unconfirmed ? QJsonValue(QJsonValue::Null) : QJsonValue(line && line->connected)},
        {QStringLiteral("since"), time(&CallInState::sinceUtc)},
        {QStringLiteral("peer"), line ? QJsonValue(line->peer) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("lastHeard"), time(&CallInState::heardUtc)},
        {QStringLiteral("recorded"), time(&CallInState::recordedUtc)},
    };
}

} // namespace

QString healthLine(const StationHealth &health)
{
    QString line = health.name + QStringLiteral(": ") + stateName(health.state);
    if (!health.lastOkUtc)
        line += QStringLiteral(", never collected");
    else
        line += QStringLiteral(", last success %1 (%2 h ago)").arg(utcText(*health.lastOkUtc), hours(health.ageSeconds));
    if (health.callIn)
        line += QStringLiteral(", ") + callInText(*health.callIn);
    line += QStringLiteral(", attempts in 24 h: %1, failed: %2").arg(health.attempts).arg(health.failures);
    if (!health.lastReading.isEmpty())
        line += QStringLiteral(", last reading %1").arg(health.lastReading);
    if (health.unpublished)
        line += QStringLiteral(", ") + unpublishedText(*health.unpublished);
    if (!health.lastError.isEmpty())
        line += QStringLiteral(", last error: %1").arg(health.lastError);
    return line;
}

QByteArray healthJson(const std::vector<StationHealth> &stations, const QDateTime &nowUtc, qint64 staleAfterSeconds)
{
    QJsonArray list;
    for (const StationHealth &health : stations) {
        QJsonObject station{
            {QStringLiteral("name"), health.name},
            {QStringLiteral("state"), stateName(health.state)},
            {QStringLiteral("stale"), health.stale},
            {QStringLiteral("intervalSeconds"), double(health.intervalMs) / 1000},
            {QStringLiteral("lastSuccess"), timeOrNull(health.lastOkUtc)},
            {QStringLiteral("ageHours"),
             health.lastOkUtc ? QJsonValue(double(health.ageSeconds) / 3600) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("lastAttempt"), timeOrNull(health.lastAttemptUtc)},
            {QStringLiteral("attempts24h"), health.attempts},
            {QStringLiteral("failures24h"), health.failures},
            {QStringLiteral("lastError"), textOrNull(health.lastError)},
            {QStringLiteral("lastReading"), textOrNull(health.lastReading)},
        };
        if (health.callIn)
            station.insert(QStringLiteral("callIn"), callInJson(*health.callIn));
        if (health.unpublished)
            station.insert(QStringLiteral("unpublished"), unpublishedJson(*health.unpublished));
        list.append(station);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("now"), utcText(nowUtc)},
                                     {QStringLiteral("staleAfterHours"), double(staleAfterSeconds) / 3600},
                                     {QStringLiteral("stations"), list}})
        .toJson();
}

} // namespace ostrand::collect
