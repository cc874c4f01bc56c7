#include "postgres_store.h"

#include "store/day_counts.h"
#include "store/postgres/postgres_day_counts.h"
#include "store/postgres/postgres_rows.h"
#include "store/postgres/postgres_session.h"

#include <QElapsedTimer>
#include <QHash>

#include <algorithm>

namespace ostrand::collect {
namespace {

// Collectors starting together would otherwise race to create the same tables.
constexpr char kSchemaLock[] = "SELECT pg_advisory_xact_lock(7700026)";
// The outbox's key: numbers never given twice, so a publisher removing what
// it sent cannot remove a newer row.
constexpr char kSerialKey[] = "BIGSERIAL PRIMARY KEY";
// How long the steps that take a store up may run: a year of a large fleet's readings is read once.
constexpr int kSchemaStepTimeoutMs = 3600 * 1000;

class PostgresStore : public ReadingStore, public PostgresSession {
public:
    PostgresStore(PGconn *conn, const QString &name, StoreUse use) : PostgresSession(conn, name), use_(use) {}

    QString name() const override { return name_; }

    // The version the schema_version table holds, 0 when it holds no row; one
    // this program does not know is refused. nullopt with *error set when it cannot be told.
    std::optional<int> heldVersion(QString *error, const QString &what)
    {
        const Result version = run("SELECT version FROM schema_version");
        if (!good(version))
            return fail(error, what, version.get()), std::nullopt;
        if (PQntuples(version.get()) == 0)
            return 0;
        const int held = atoi(PQgetvalue(version.get(), 0, 0));
        if (held < kOldestStoreSchemaVersion || held > kStoreSchemaVersion) {
            *error = QStringLiteral("%1 holds schema version %2, this program writes version %3: give it a "
                                    "store of its own or use the program that made it")
                         .arg(name_, QString::fromLatin1(PQgetvalue(version.get(), 0, 0)))
                         .arg(kStoreSchemaVersion);
            return std::nullopt;
        }
        return held;
    }

    // Whether a store of version `held` is as this connection's use wants it:
    // a reader reads an older schema as it is, a collector takes it up first.
    bool ready(int held) const { return held == kStoreSchemaVersion || (held > 0 && use_ == StoreUse::Reading); }

    bool createSchema(QString *error)
    {
        QString what = QStringLiteral("the tables could not be made");
        if (!runAll({"SET client_min_messages = warning"}, error, what))
            return false;
        // A store already set up is only read: collectors starting together take no lock for it.
        const auto present = [&]() -> std::optional<bool> {
            const Result r = run("SELECT to_regclass('schema_version') IS NOT NULL");
            if (!good(r))
                return fail(error, what, r.get()), std::nullopt;
            return QByteArray(PQgetvalue(r.get(), 0, 0)) == "t";
        };
        auto made = present();
        if (!made)
            return false;
        if (*made) {
            const auto held = heldVersion(error, what);
            if (!held)
                return false;
            version_ = *held;
            if (ready(*held))
                return true;
        }
        // A reader's session is read-only: it neither makes tables nor takes a schema up.
        if (use_ == StoreUse::Reading) {
            *error = QStringLiteral("%1 holds no readings store yet: run collect with this store first").arg(name_);
            return false;
        }
        // Under the lock, asked again: another collector may have made or taken it up meanwhile.
        if (!runAll({"BEGIN", kSchemaLock}, error, what))
            return rollback(), false;
        made = present();
        const auto held = !made ? std::nullopt : *made ? heldVersion(error, what) : std::optional<int>(0);
        if (!held)
            return rollback(), false;
        if (*held > 0 && *held < kStoreSchemaVersion)
            what = QStringLiteral("its schema could not be taken from version %1 to %2").arg(*held).arg(kStoreSchemaVersion);
        if (*held == 0) {
            const QByteArray schema = storeSchema("TIMESTAMPTZ", "", kSerialKey);
            if (!runAll({schema.constData()}, error, what))
                return rollback(), false;
            const Result insert = run("INSERT INTO schema_version (version) VALUES ($1)",
                                      {QString::number(kStoreSchemaVersion)});
            if (!good(insert))
                return fail(error, what, insert.get()), rollback(), false;
        } else if (*held < kStoreSchemaVersion) {
            // Counting a large fleet's days of readings may take longer than
            // a statement may: the steps alone are given longer, once.
            const int usualTimeoutMs = statementTimeoutMs_;
            statementTimeoutMs_ = kSchemaStepTimeoutMs;
            const QByteArray longer = "SET LOCAL statement_timeout = " + QByteArray::number(kSchemaStepTimeoutMs);
            const QByteArray steps = storeSchemaSteps(*held, "TIMESTAMPTZ", kSerialKey);
            const bool stepped = runAll({longer.constData(), steps.constData()}, error, what);
            statementTimeoutMs_ = usualTimeoutMs;
            if (!stepped)
                return rollback(), false;
            const Result update = run("UPDATE schema_version SET version = $1", {QString::number(kStoreSchemaVersion)});
            if (!good(update))
                return fail(error, what, update.get()), rollback(), false;
        }
        if (!runAll({"COMMIT"}, error, what))
            return rollback(), false;
        version_ = kStoreSchemaVersion;
        return true;
    }

    std::optional<StationMemory> remembered(const QString &station, QString *error) override
    {
        const Result r = run("SELECT (SELECT cursor FROM collection_cursors WHERE station = $1), "
                             "(SELECT extract(epoch FROM max(time_utc))::bigint FROM readings WHERE station = $1)",
                             {station});
        if (!good(r))
            return fail(error, QStringLiteral("the station's cursor could not be read"), r.get()), std::nullopt;
        StationMemory memory;
        memory.cursor = QString::fromUtf8(PQgetvalue(r.get(), 0, 0));
        if (!PQgetisnull(r.get(), 0, 1))
            memory.lastReadingUtc = utcFromEpoch(PQgetvalue(r.get(), 0, 1));
        return memory;
    }

    std::optional<WriteResult> write(const StationWrite &w, QString *error) override
    {
        const QString what = QStringLiteral("station %1's readings were not stored").arg(w.station.name);
        WriteResult result;
        batchClashes_.clear();
        std::optional<bool> clear;
        std::optional<StationInstants> held;
        const bool stored = runAll({"BEGIN"}, error, what) && (clear = spanIsClear(w.readings, error, what))
                            && (held = *clear ? StationInstants() : heldInstants(*this, w.readings, error, what))
                            && (*clear ? copyIn("readings", w.readings, result, error, what)
                                 : runAll({"CREATE TEMPORARY TABLE incoming (LIKE readings INCLUDING DEFAULTS) "
                                           "ON COMMIT DROP"},
                                          error, what)
                                       && copyIn("incoming", w.readings, result, error, what)
                                       && (!w.publish || queueIncoming(w, error, what))
                                       && settle(result, error, what))
                            && storeBatchClashes(result, error, what);
        if (stored && *clear)
            result.inserted = incomingRows_;
        if (!stored || (w.publish && *clear && !queueClearSpan(w, error, what))
            || !writeDays(*this, addedDayCounts(w.readings, *held), error, what)
            || !writeRows(w, result.inserted, error, what) || !runAll({"COMMIT"}, error, what)) {
            rollback();
            return std::nullopt;
        }
        return result;
    }

    // Whether the store holds none of the station's readings from the batch's
    // first time to its last: the usual run, whose readings all follow the
    // last stored one, goes straight into the table. nullopt on failure.
    std::optional<bool> spanIsClear(const std::vector<StoredReading> &readings, QString *error, const QString &what)
    {
        if (readings.empty())
            return true;
        const auto [first, last] = std::minmax_element(readings.begin(), readings.end(),
                                                       [](const StoredReading &a, const StoredReading &b) {
                                                           return a.timeUtc < b.timeUtc;
                                                       });
        if (std::any_of(readings.begin(), readings.end(),
                        [&](const StoredReading &r) { return r.station != readings.front().station; }))
            return false;
        const Result held = run("SELECT EXISTS (SELECT 1 FROM readings WHERE station = $1 AND time_utc >= $2 "
                                "AND time_utc <= $3)",
                                {readings.front().station, utcText(first->timeUtc), utcText(last->timeUtc)});
        if (!good(held))
            return fail(error, what, held.get()), std::nullopt;
        return QByteArray(PQgetvalue(held.get(), 0, 0)) != "t";
    }

    // Readings that clashed within the batch itself.
    bool storeBatchClashes(WriteResult &result, QString *error, const QString &what)
    {
        for (const StoredReading &r : batchClashes_) {
            const Result clash = run("INSERT INTO clashes VALUES ($1, $2, $3, $4, $5, $6, $7)", fields(r));
            if (!good(clash))
                return fail(error, what, clash.get());
            result.clashes.push_back(r);
        }
        return true;
    }

    // The batch into `table` by COPY; a key the batch holds twice is
    // settled here, as the database would see only the first.
    bool copyIn(const char *table, const std::vector<StoredReading> &readings, WriteResult &result, QString *error,
                const QString &what)
    {
        const Result start = send((QByteArray("COPY ") + table + " FROM STDIN").constData());
        if (PQresultStatus(start.get()) != PGRES_COPY_IN)
            return fail(error, what, start.get());
        incomingRows_ = 0;
        QHash<ReadingKey, double> seen;
        seen.reserve(qsizetype(readings.size()));
        QByteArray buffer;
        constexpr qsizetype kChunk = 1 << 20;
        QDateTime lastUtc;
        QByteArray utc;
        for (const StoredReading &r : readings) {
            const ReadingKey key{r.station, r.channel, r.timeUtc.toSecsSinceEpoch()};
            if (const auto it = seen.constFind(key); it != seen.constEnd()) {
                if (*it == r.value)
                    ++result.duplicates;
                else
                    batchClashes_.push_back(r);
                continue;
            }
            seen.insert(key, r.value);
            ++incomingRows_;
            appendCopyField(buffer, r.station);
            buffer += '\t' + QByteArray::number(r.channel) + '\t';
            appendCopyField(buffer, r.label);
            buffer += '\t';
            if (r.unit.isEmpty())
                buffer += "\\N";
            else
                appendCopyField(buffer, r.unit);
            if (r.timeUtc != lastUtc) {
                lastUtc = r.timeUtc;
                utc = utcText(r.timeUtc).toLatin1();
            }
            buffer += '\t' + utc + '\t';
            appendCopyField(buffer, r.timeLocal);
            buffer += '\t' + QByteArray::number(r.value, 'g', 17) + '\n';
            if (buffer.size() > kChunk) {
                if (PQputCopyData(conn_, buffer.constData(), int(buffer.size())) != 1)
                    return fail(error, what);
                buffer.clear();
            }
        }
        if ((!buffer.isEmpty() && PQputCopyData(conn_, buffer.constData(), int(buffer.size())) != 1)
            || PQputCopyEnd(conn_, nullptr) != 1)
            return fail(error, what);
        const Result end = lastResult();
        return good(end) || fail(error, what, end.get());
    }

    // Duplicates counted, clashes kept aside, the rest inserted.
    bool settle(WriteResult &result, QString *error, const QString &what)
    {
        // Without its numbers the planner takes the batch for a few rows and joins it row by row.
        const Result analyzed = run("ANALYZE incoming");
        if (!good(analyzed))
            return fail(error, what, analyzed.get());
        const Result clashes = run(R"(INSERT INTO clashes SELECT i.* FROM incoming i JOIN readings r
            ON r.station = i.station AND r.channel = i.channel AND r.time_utc = i.time_utc WHERE r.value <> i.value
            RETURNING station, channel, label, unit, extract(epoch FROM time_utc)::bigint, time_local, value)");
        // In key order the primary key index is filled page by page.
        const Result inserted = run("INSERT INTO readings SELECT * FROM incoming ORDER BY station, channel, time_utc "
                                    "ON CONFLICT DO NOTHING");
        for (const Result *r : {&clashes, &inserted}) {
            if (!good(*r))
                return fail(error, what, r->get());
        }
        for (int i = 0; i < PQntuples(clashes.get()); ++i)
            result.clashes.push_back(readingAt(clashes.get(), i));
        result.inserted = atoi(PQcmdTuples(inserted.get()));
        // What the batch held that was neither new nor a clash was there already.
        result.duplicates += incomingRows_ - result.inserted - PQntuples(clashes.get());
        return true;
    }

    static QString optionalTime(const std::optional<QDateTime> &t) { return t ? utcText(*t) : QString(); }

    bool writeRows(const StationWrite &w, int inserted, QString *error, const QString &what)
    {
        const StationRow &s = w.station;
        const CollectionRow &c = w.collection;
        const Result station = run(R"(INSERT INTO stations VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (name) DO UPDATE
            SET port = excluded.port, timezone = excluded.timezone, last_attempt_utc = excluded.last_attempt_utc,
            last_ok_utc = coalesce(excluded.last_ok_utc, stations.last_ok_utc), last_error = excluded.last_error)",
                                   {s.name, s.port, s.timezone, optionalTime(s.lastAttemptUtc),
                                    optionalTime(s.lastOkUtc), s.lastError.isEmpty() ? QString() : s.lastError});
        const Result collection = run("INSERT INTO collections VALUES ($1, $2, $3, $4, $5, $6, $7)",
                                      {c.station, utcText(c.startedUtc), utcText(c.finishedUtc), c.result,
                                       QString::number(inserted), QString::number(c.attempts),
                                       c.error.isEmpty() ? QString() : c.error});
        for (const Result *r : {&station, &collection}) {
            if (!good(*r))
                return fail(error, what, r->get());
        }
        if (w.cursor.isEmpty())
            return true;
        const Result cursor = run("INSERT INTO collection_cursors VALUES ($1, $2) ON CONFLICT (station) DO UPDATE "
                                  "SET cursor = excluded.cursor",
                                  {s.name, w.cursor});
        return good(cursor) || fail(error, what, cursor.get());
    }

    // A session's advisory lock per station: the server lets it go when the
    // connection ends, so a collector that dies frees its station for another.
    std::optional<StationClaim> claim(const QString &station, const QDateTime &sinceUtc, QString *error) override
    {
        const QString what = QStringLiteral("station %1 could not be claimed").arg(station);
        const Result locked = run("SELECT pg_try_advisory_lock(hashtext('ostrand-station'), hashtext($1))", {station});
        if (!good(locked))
            return fail(error, what, locked.get()), std::nullopt;
        if (QByteArray(PQgetvalue(locked.get(), 0, 0)) != "t")
            return StationClaim::HeldElsewhere;
        const Result done = run("SELECT count(*) FROM stations WHERE name = $1 AND last_ok_utc >= $2",
                                {station, utcText(sinceUtc)});
        if (!good(done)) {
            releaseClaim(station);
            return fail(error, what, done.get()), std::nullopt;
        }
        if (atoi(PQgetvalue(done.get(), 0, 0)) == 0)
            return StationClaim::Taken;
        releaseClaim(station);
        return StationClaim::AlreadyCollected;
    }

    void releaseClaim(const QString &station) override
    {
        run("SELECT pg_advisory_unlock(hashtext('ostrand-station'), hashtext($1))", {station});
    }

    std::optional<QDateTime> databaseNowUtc(QString *error) override
    {
        const Result r = run("SELECT (extract(epoch FROM now()) * 1000)::bigint");
        if (!good(r))
            return fail(error, QStringLiteral("its clock could not be read"), r.get()), std::nullopt;
        return QDateTime::fromMSecsSinceEpoch(QByteArray(PQgetvalue(r.get(), 0, 0)).toLongLong(), Qt::UTC);
    }

    bool recordCallInStates(const std::vector<CallInState> &states, QString *error) override
    {
        const QString what = QStringLiteral("the call-in lines were not recorded");
        if (!runAll({"BEGIN"}, error, what))
            return rollback(), false;
        const QByteArray sql = QByteArray("INSERT INTO call_in_lines VALUES ($1, $2, $3, $4, $5, $6)") + kCallInUpsertRule;
        for (const CallInState &state : states) {
            const Result upsert = run(sql.constData(),
                                      {state.station, state.connected ? QStringLiteral("true") : QStringLiteral("false"),
                                       state.peer, utcText(state.sinceUtc), utcText(state.heardUtc),
                                       utcText(state.recordedUtc)});
            if (!good(upsert))
                return fail(error, what, upsert.get()), rollback(), false;
        }
        return runAll({"COMMIT"}, error, what) || (rollback(), false);
    }

    std::optional<std::vector<CallInState>> callInStates(QString *error) override
    {
        std::vector<CallInState> rows;
        if (version_ < kCallInLinesSchemaVersion)
            return rows;
        const Result r = run("SELECT station, connected, peer, extract(epoch FROM since_utc)::bigint, "
                             "extract(epoch FROM heard_utc)::bigint, extract(epoch FROM recorded_utc)::bigint "
                             "FROM call_in_lines ORDER BY station");
        if (!good(r))
            return fail(error, QStringLiteral("the call-in lines could not be read"), r.get()), std::nullopt;
        for (int i = 0; i < PQntuples(r.get()); ++i)
            rows.push_back({QString::fromUtf8(PQgetvalue(r.get(), i, 0)), QByteArray(PQgetvalue(r.get(), i, 1)) == "t",
                            QString::fromUtf8(PQgetvalue(r.get(), i, 2)), utcFromEpoch(PQgetvalue(r.get(), i, 3)),
                            utcFromEpoch(PQgetvalue(r.get(), i, 4)), utcFromEpoch(PQgetvalue(r.get(), i, 5))});
        return rows;
    }

    std::optional<QHash<QString, QDateTime>> newestReadings(QString *error) override
    {
        // One channel at a time, each a seek on the key, never a scan of the station's readings.
        QByteArray sql = "SELECT name, extract(epoch FROM greatest(";
        for (int channel = 1; channel <= 8; ++channel)
            sql += QByteArray(channel > 1 ? ", " : "")
                   + "(SELECT max(time_utc) FROM readings r WHERE r.station = s.name AND r.channel = "
                   + QByteArray::number(channel) + ")";
        sql += "))::bigint FROM stations s";
        const Result r = run(sql.constData());
        if (!good(r))
            return fail(error, QStringLiteral("the stations' newest readings could not be read"), r.get()), std::nullopt;
        QHash<QString, QDateTime> times;
        for (int i = 0; i < PQntuples(r.get()); ++i)
            if (!PQgetisnull(r.get(), i, 1))
                times.insert(QString::fromUtf8(PQgetvalue(r.get(), i, 0)), utcFromEpoch(PQgetvalue(r.get(), i, 1)));
        return times;
    }

    std::optional<std::vector<DayCount>> dayCounts(const QDate &fromDay, QString *error) override
    {
        if (version_ < kDayCountsSchemaVersion)
            return std::vector<DayCount>{};
        return readDayCounts(*this, fromDay, error);
    }

    std::optional<std::vector<StoredReading>> readings(const ReadingQuery &query, QString *error) override
    {
        QByteArray sql = "SELECT station, channel, label, unit, extract(epoch FROM time_utc)::bigint, time_local, "
                         "value FROM readings WHERE station = $1";
        QStringList params{query.station};
        const auto condition = [&](const char *text, const QString &value) {
            params << value;
            sql += QByteArray(text) + '$' + QByteArray::number(params.size());
        };
        if (query.channel)
            condition(" AND channel = ", QString::number(*query.channel));
        if (query.fromUtc)
            condition(" AND time_utc >= ", utcText(*query.fromUtc));
        if (query.toUtc)
            condition(" AND time_utc < ", utcText(*query.toUtc));
        sql += " ORDER BY time_utc, channel";
        const Result r = run(sql.constData(), params);
        if (!good(r))
            return fail(error, QStringLiteral("the readings could not be read"), r.get()), std::nullopt;
        std::vector<StoredReading> rows;
        rows.reserve(size_t(PQntuples(r.get())));
        for (int i = 0; i < PQntuples(r.get()); ++i)
            rows.push_back(readingAt(r.get(), i));
        return rows;
    }

    std::optional<std::vector<StationRow>> stations(QString *error) override
    {
        const Result r = run("SELECT name, port, timezone, extract(epoch FROM last_attempt_utc)::bigint, "
                             "extract(epoch FROM last_ok_utc)::bigint, last_error FROM stations ORDER BY name");
        if (!good(r))
            return fail(error, QStringLiteral("the stations could not be read"), r.get()), std::nullopt;
        std::vector<StationRow> rows;
        const auto time = [&](int row, int column) {
            return PQgetisnull(r.get(), row, column) ? std::nullopt
                                                      : std::optional<QDateTime>(utcFromEpoch(PQgetvalue(r.get(), row, column)));
        };
        for (int i = 0; i < PQntuples(r.get()); ++i)
            rows.push_back({QString::fromUtf8(PQgetvalue(r.get(), i, 0)), QString::fromUtf8(PQgetvalue(r.get(), i, 1)),
                            QString::fromUtf8(PQgetvalue(r.get(), i, 2)), time(i, 3), time(i, 4),
                            QString::fromUtf8(PQgetvalue(r.get(), i, 5))});
        return rows;
    }

    std::optional<std::vector<CollectionRow>> collections(const QDateTime &sinceUtc, QString *error) override
    {
        const Result r = run("SELECT station, extract(epoch FROM started_utc)::bigint, "
                             "extract(epoch FROM finished_utc)::bigint, result, new_readings, attempts, error "
                             "FROM collections WHERE started_utc >= $1 ORDER BY started_utc, station",
                             {utcText(sinceUtc)});
        if (!good(r))
            return fail(error, QStringLiteral("the collections could not be read"), r.get()), std::nullopt;
        std::vector<CollectionRow> rows;
        for (int i = 0; i < PQntuples(r.get()); ++i)
            rows.push_back({QString::fromUtf8(PQgetvalue(r.get(), i, 0)), utcFromEpoch(PQgetvalue(r.get(), i, 1)),
                            utcFromEpoch(PQgetvalue(r.get(), i, 2)), QString::fromUtf8(PQgetvalue(r.get(), i, 3)),
                            atoi(PQgetvalue(r.get(), i, 4)), atoi(PQgetvalue(r.get(), i, 5)),
                            QString::fromUtf8(PQgetvalue(r.get(), i, 6))});
        return rows;
    }

    // The outbox: what waits to be published. A write queues exactly the
    // readings it inserts, in its transaction: a duplicate skipped was queued
    // when it was first stored.

    static QString queuedText(const StationWrite &w)
    {
        return w.collection.finishedUtc.isValid() ? utcText(w.collection.finishedUtc) : QString();
    }

    // A batch whose span the store held nothing of went in whole.
    bool queueClearSpan(const StationWrite &w, QString *error, const QString &what)
    {
        if (w.readings.empty())
            return true;
        const auto [first, last] = std::minmax_element(w.readings.begin(), w.readings.end(),
                                                       [](const StoredReading &a, const StoredReading &b) {
                                                           return a.timeUtc < b.timeUtc;
                                                       });
        const QByteArray sql = QByteArray("INSERT INTO outbox (station, channel, time_utc, queued_utc) "
                                          "SELECT station, channel, time_utc, coalesce($4::timestamptz, now()) "
                                          "FROM readings WHERE station = $1 AND channel IN ")
                               + kEveryChannel + " AND time_utc >= $2 AND time_utc <= $3 ORDER BY time_utc, channel";
        const Result queued = run(sql.constData(), {w.readings.front().station, utcText(first->timeUtc),
                                                    utcText(last->timeUtc), queuedText(w)});
        return good(queued) || fail(error, what, queued.get());
    }

    // Before the batch is settled: what of it the readings do not hold yet is what goes in.
    bool queueIncoming(const StationWrite &w, QString *error, const QString &what)
    {
        const Result analyzed = run("ANALYZE incoming");
        const Result queued = run("INSERT INTO outbox (station, channel, time_utc, queued_utc) "
                                  "SELECT i.station, i.channel, i.time_utc, coalesce($1::timestamptz, now()) "
                                  "FROM incoming i WHERE NOT EXISTS (SELECT 1 FROM readings r WHERE "
                                  "r.station = i.station AND r.channel = i.channel AND r.time_utc = i.time_utc) "
                                  "ORDER BY i.time_utc, i.channel",
                                  {queuedText(w)});
        for (const Result *r : {&analyzed, &queued}) {
            if (!good(*r))
                return fail(error, what, r->get());
        }
        return true;
    }

    std::optional<std::vector<OutboxEntry>> outbox(const QString &station, int limit, QString *error) override
    {
        std::vector<OutboxEntry> rows;
        if (version_ < kOutboxSchemaVersion)
            return rows;
        QByteArray sql = "SELECT o.station, o.channel, r.label, r.unit, extract(epoch FROM o.time_utc)::bigint, "
                         "r.time_local, r.value, o.id, extract(epoch FROM o.queued_utc)::bigint FROM outbox o "
                         "JOIN readings r ON r.station = o.station AND r.channel = o.channel AND r.time_utc = o.time_utc";
        if (!station.isEmpty())
            sql += " WHERE o.station = $2";
        sql += " ORDER BY o.id LIMIT $1";
        QStringList params{QString::number(std::max(limit, 0))};
        if (!station.isEmpty())
            params << station;
        const Result r = run(sql.constData(), params);
        if (!good(r))
            return fail(error, QStringLiteral("the outbox could not be read"), r.get()), std::nullopt;
        rows.reserve(size_t(PQntuples(r.get())));
        for (int i = 0; i < PQntuples(r.get()); ++i)
            rows.push_back({QByteArray(PQgetvalue(r.get(), i, 7)).toLongLong(), readingAt(r.get(), i),
                            utcFromEpoch(PQgetvalue(r.get(), i, 8))});
        return rows;
    }

    bool removeFromOutbox(const std::vector<qint64> &ids, QString *error) override
    {
        if (ids.empty())
            return true;
        QStringList numbers;
        numbers.reserve(qsizetype(ids.size()));
        for (const qint64 id : ids)
            numbers << QString::number(id);
        const Result removed = run("DELETE FROM outbox WHERE id = ANY ($1::bigint[])",
                                   {'{' + numbers.join(',') + '}'});
        return good(removed)
               || fail(error, QStringLiteral("the published readings could not be taken out of the outbox"),
                       removed.get());
    }

    std::optional<std::vector<OutboxBacklog>> outboxBacklog(QString *error) override
    {
        std::vector<OutboxBacklog> rows;
        if (version_ < kOutboxSchemaVersion)
            return rows;
        const Result r = run("SELECT station, count(*), extract(epoch FROM min(queued_utc))::bigint FROM outbox "
                             "GROUP BY station ORDER BY station");
        if (!good(r))
            return fail(error, QStringLiteral("the outbox could not be read"), r.get()), std::nullopt;
        for (int i = 0; i < PQntuples(r.get()); ++i)
            rows.push_back({QString::fromUtf8(PQgetvalue(r.get(), i, 0)), QByteArray(PQgetvalue(r.get(), i, 1)).toLongLong(),
                            utcFromEpoch(PQgetvalue(r.get(), i, 2))});
        return rows;
    }

private:
    StoreUse use_;
    int version_ = 0; // of the schema, once read
    std::vector<StoredReading> batchClashes_;
    int incomingRows_ = 0;
};

} // namespace

std::unique_ptr<ReadingStore> openPostgresStore(const QString &connection, QString *error, StoreUse use)
{
    const QByteArray text = connection.toUtf8();
    // The limits first: what the connection text says is read after them and wins.
    std::vector<const char *> keys{"keepalives", "keepalives_idle", "keepalives_interval", "keepalives_count",
                                   "tcp_user_timeout"};
    std::vector<const char *> values{"1", kKeepaliveIdleS, kKeepaliveIntervalS, kKeepaliveCount, kUnacknowledgedMs};
    if (!qEnvironmentVariableIsSet("PGCONNECT_TIMEOUT")) {
        keys.push_back("connect_timeout");
        values.push_back(kDefaultConnectTimeoutS);
    }
    keys.push_back("dbname");
    values.push_back(text.constData());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    QElapsedTimer took;
    took.start();
    PGconn *conn = PQconnectdbParams(keys.data(), values.data(), 1);
    auto store = std::make_unique<PostgresStore>(conn, postgresName(connection), use);
    if (PQstatus(conn) != CONNECTION_OK) {
        const int given = optionOf(conn, "connect_timeout").toInt(); // 0: none, waited as long as it took
        const int limit = std::max(given, kLeastConnectTimeoutS);
        const bool timedOut = given > 0
                              && (took.elapsed() >= limit * 1000 - 100
                                  || QByteArray(PQerrorMessage(conn)).contains("timeout expired"));
        if (timedOut)
            *error = QStringLiteral("the store %1 did not answer within %2 s (check that the server runs and "
                                    "answers; connect_timeout in the url sets the wait)")
                         .arg(store->name())
                         .arg(limit);
        else
            store->fail(error, QStringLiteral("no connection (check the url, that the server runs and that it lets "
                                              "this user in)"));
        return nullptr;
    }
    // A reader's session cannot write, whatever it is asked: set after the
    // connection text's own options, which could otherwise undo it.
    if (use == StoreUse::Reading
        && !store->runAll({"SET default_transaction_read_only = on"}, error,
                          QStringLiteral("its session could not be made read-only")))
        return nullptr;
    if (!store->limitStatements(error) || !store->createSchema(error))
        return nullptr;
    return store;
}

} // namespace ostrand::collect
