#include "sqlite_day_counts.h"

#include "store/sqlite/sqlite_statement.h"

namespace ostrand::collect {

std::optional<QSet<QString>> stationsHeldInSpan(sqlite3 *db,
                                                const std::vector<StoredReading> &readings)
{
    const QByteArray sql =
        QByteArray("SELECT EXISTS (SELECT 1 FROM readings WHERE station = ? AND channel IN ") +
        kEveryChannel + " AND time_utc >= ? AND time_utc <= ?)";
    Statement select(db, sql.constData());
    QSet<QString> held;
    const QHash<QString, InstantSpan> spans = stationSpans(readings);
    for (auto span = spans.constBegin(); span != spans.constEnd(); ++span) {
        select.reset();
        select.bind(1, span.key());
        select.bind(2, utcText(span->firstUtc));
        select.bind(3, utcText(span->lastUtc));
        if (!select.ok() || select.step() != SQLITE_ROW)
            return std::nullopt;
        if (select.integer(0) != 0)
            held.insert(span.key());
    }
    return held;
}

std::optional<StationInstants> heldInstants(sqlite3 *db, const std::vector<StoredReading> &readings,
                                            const std::vector<bool> &inserted,
                                            const QSet<QString> &unclear)
{
    QHash<QString, QHash<qint64, int>> insertedAt; // by station and instant
    for (size_t i = 0; i < readings.size(); ++i)
        insertedAt[readings[i].station][readings[i].timeUtc.toSecsSinceEpoch()] +=
            inserted[i] ? 1 : 0;
    const QByteArray sql =
        QByteArray("SELECT count(*) FROM readings WHERE station = ? AND channel IN ") +
        kEveryChannel + " AND time_utc = ?";
    Statement count(db, sql.constData());
    if (!count.ok())
        return std::nullopt;
    StationInstants held;
    for (auto station = insertedAt.constBegin(); station != insertedAt.constEnd(); ++station) {
        QSet<qint64> &instants = held[station.key()];
        for (auto at = station->constBegin(); at != station->constEnd(); ++at) {
            if (at.value() == 0) {
                instants.insert(at.key());
                continue;
            }
            if (!unclear.contains(station.key()))
                continue;
            count.reset();
            count.bind(1, station.key());
            count.bind(2, utcText(QDateTime::fromSecsSinceEpoch(at.key(), Qt::UTC)));
            if (count.step() != SQLITE_ROW)
                return std::nullopt;
            if (count.integer(0) > at.value())
                instants.insert(at.key());
        }
    }
    return held;
}

bool writeDays(sqlite3 *db, const std::vector<DayCount> &days)
{
    const QByteArray sql =
        QByteArray("INSERT INTO station_days VALUES (?, ?, ?, ?)") + kDayCountUpsertRule;
    Statement upsert(db, sql.constData());
    if (!upsert.ok())
        return false;
    for (const DayCount &day : days) {
        upsert.reset();
        upsert.bind(1, day.station);
        upsert.bind(2, day.day.toString(Qt::ISODate));
        upsert.bind(3, day.instants);
        upsert.bind(4, day.intervalSeconds);
        if (upsert.step() != SQLITE_DONE)
            return false;
    }
    return true;
}

std::optional<std::vector<DayCount>> readDayCounts(sqlite3 *db, const QDate &fromDay)
{
    Statement select(
        db, "SELECT station, day, instants, interval_seconds FROM station_days WHERE day >= ? "
            "ORDER BY station, day");
    if (!select.ok())
        return std::nullopt;
    select.bind(1, fromDay.toString(Qt::ISODate));
    // The store's own day text, read by hand: a fleet's page reads a hundred thousand of them.
    const auto dayOf = [](const QString &text) {
        const QStringView day(text);
        return day.size() == 10 && day[4] == u'-' && day[7] == u'-'
                   ? QDate(day.left(4).toInt(), day.mid(5, 2).toInt(), day.mid(8, 2).toInt())
                   : QDate();
    };
    std::vector<DayCount> rows;
    int step;
    while ((step = select.step()) == SQLITE_ROW)
        rows.push_back(
            {select.text(0), dayOf(select.text(1)), select.integer(2), select.integer(3)});
    if (step != SQLITE_DONE)
        return std::nullopt;
    return rows;
}

} // namespace ostrand::collect
