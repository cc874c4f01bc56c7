#include "postgres_day_counts.h"

#include "store/time_text.h"

namespace ostrand::collect {

std::optional<StationInstants> heldInstants(PostgresSession &session,
                                            const std::vector<StoredReading> &readings,
                                            QString *error, const QString &what)
{
    StationInstants held;
    const QByteArray sql =
        QByteArray("SELECT DISTINCT extract(epoch FROM time_utc)::bigint FROM readings "
                   "WHERE station = $1 AND channel IN ") +
        kEveryChannel + " AND time_utc >= $2 AND time_utc <= $3";
    const QHash<QString, InstantSpan> spans = stationSpans(readings);
    for (auto span = spans.constBegin(); span != spans.constEnd(); ++span) {
        const Result r = session.run(sql.constData(),
                                     {span.key(), utcText(span->firstUtc), utcText(span->lastUtc)});
        if (!PostgresSession::good(r))
            return session.fail(error, what, r.get()), std::nullopt;
        QSet<qint64> &instants = held[span.key()];
        for (int i = 0; i < PQntuples(r.get()); ++i)
            instants.insert(QByteArray(PQgetvalue(r.get(), i, 0)).toLongLong());
    }
    return held;
}

bool writeDays(PostgresSession &session, const std::vector<DayCount> &days, QString *error,
               const QString &what)
{
    const QByteArray sql =
        QByteArray("INSERT INTO station_days VALUES ($1, $2, $3, $4)") + kDayCountUpsertRule;
    for (const DayCount &day : days) {
        const Result upsert = session.run(
            sql.constData(), {day.station, day.day.toString(Qt::ISODate),
                              QString::number(day.instants), QString::number(day.intervalSeconds)});
        if (!PostgresSession::good(upsert))
            return session.fail(error, what, upsert.get());
    }
    return true;
}

std::optional<std::vector<DayCount>> readDayCounts(PostgresSession &session, const QDate &fromDay,
                                                   QString *error)
{
    const Result r = session.run(
        "SELECT station, day, instants, interval_seconds FROM station_days WHERE day >= $1 "
        "ORDER BY station, day",
        {fromDay.toString(Qt::ISODate)});
    if (!PostgresSession::good(r))
        return session.fail(error, QStringLiteral("the day counts could not be read"), r.get()),
               std::nullopt;
    std::vector<DayCount> rows;
    rows.reserve(size_t(PQntuples(r.get())));
    for (int i = 0; i < PQntuples(r.get()); ++i)
        rows.push_back(
            {QString::fromUtf8(PQgetvalue(r.get(), i, 0)),
             QDate::fromString(QString::fromLatin1(PQgetvalue(r.get(), i, 1)), Qt::ISODate),
             atoi(PQgetvalue(r.get(), i, 2)), atoi(PQgetvalue(r.get(), i, 3))});
    return rows;
}

} // namespace ostrand::collect
