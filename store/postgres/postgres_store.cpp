#include "postgres_store.h"

#include <libpq-fe.h>

#include <QElapsedTimer>
#include <QHash>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <poll.h>

namespace ostrand::collect {
namespace {

// "PostgreSQL database flow on db1:5432 as collector", from the parts libpq reads
// in the text; only these are shown, so a password or a passfile never is.
QString postgresName(const QString &connection)
{
    PQconninfoOption *options = PQconninfoParse(connection.toUtf8().constData(), nullptr);
    // libpq's reason could quote the text it stopped at, password and all.
    if (!options)
        return QStringLiteral("PostgreSQL database (a connection text libpq cannot read)");
    QHash<QString, QString> values;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
        if (o->val && *o->val)
            values.insert(QString::fromUtf8(o->keyword), QString::fromUtf8(o->val));
    }
    PQconninfoFree(options);
    QString text = QStringLiteral("PostgreSQL database %1")
                       .arg(values.value(QStringLiteral("dbname"), QStringLiteral("(default)")));
    if (values.contains(QStringLiteral("host")))
        text += QStringLiteral(" on %1").arg(values.value(QStringLiteral("host")));
    if (values.contains(QStringLiteral("port")))
        text += u':' + values.value(QStringLiteral("port"));
    if (values.contains(QStringLiteral("user")))
        text += QStringLiteral(" as %1").arg(values.value(QStringLiteral("user")));
    return text;
}

const char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS readings (
    station TEXT NOT NULL, channel INTEGER NOT NULL, label TEXT NOT NULL, unit TEXT NULL,
    time_utc TIMESTAMPTZ NOT NULL, time_local TEXT NOT NULL, value DOUBLE PRECISION NOT NULL,
    PRIMARY KEY (station, channel, time_utc));
CREATE TABLE IF NOT EXISTS clashes (
    station TEXT NOT NULL, channel INTEGER NOT NULL, label TEXT NOT NULL, unit TEXT NULL,
    time_utc TIMESTAMPTZ NOT NULL, time_local TEXT NOT NULL, value DOUBLE PRECISION NOT NULL);
CREATE TABLE IF NOT EXISTS stations (
    name TEXT PRIMARY KEY, port TEXT, timezone TEXT, last_attempt_utc TIMESTAMPTZ, last_ok_utc TIMESTAMPTZ,
    last_error TEXT NULL);
CREATE TABLE IF NOT EXISTS collections (
    station TEXT NOT NULL, started_utc TIMESTAMPTZ NOT NULL, finished_utc TIMESTAMPTZ NOT NULL,
    result TEXT NOT NULL, new_readings INTEGER NOT NULL, attempts INTEGER NOT NULL, error TEXT NULL);
CREATE INDEX IF NOT EXISTS collections_started ON collections (started_utc);
CREATE TABLE IF NOT EXISTS collection_cursors (station TEXT PRIMARY KEY, cursor TEXT NOT NULL);
)";

// Limits on waiting for the server, where the connection text sets none: a
// server that accepts and never answers would otherwise hold `collect`, and
// the stations file's lock with it, for ever.
constexpr char kDefaultConnectTimeoutS[] = "10";
constexpr int kDefaultStatementTimeoutMs = 60000;
// A peer gone without a word is noticed in about a minute, whether the
// connection is idle (keepalives) or has data unacknowledged (a COPY under way).
constexpr char kKeepaliveIdleS[] = "30";
constexpr char kKeepaliveIntervalS[] = "10";
constexpr char kKeepaliveCount[] = "3";
constexpr char kUnacknowledgedMs[] = "60000";

// The server's own statement timeout answers first; past it and this much
// more, a server whose process hangs (its host still taking the packets) is given up on.
constexpr qint64 kGraceMs = 5000;

// libpq waits at least 2 s, whatever smaller number it is given.
constexpr int kLeastConnectTimeoutS = 2;

QString seconds(qint64 ms)
{
    return QString::number(ms / 1000.0);
}

// A connection option as libpq took it, from the text, the environment or its default.
QByteArray optionOf(PGconn *conn, const char *keyword)
{
    QByteArray value;
    if (PQconninfoOption *options = PQconninfo(conn)) {
        for (PQconninfoOption *o = options; o->keyword; ++o) {
            if (std::strcmp(o->keyword, keyword) == 0 && o->val)
                value = o->val;
        }
        PQconninfoFree(options);
    }
    return value;
}

// Collectors starting together would otherwise race to create the same tables.
constexpr char kSchemaLock[] = "SELECT pg_advisory_xact_lock(7700026)";

// Times are read back as seconds since 1970, whatever the session's zone.
QDateTime utcFromEpoch(const char *text)
{
    return QDateTime::fromSecsSinceEpoch(QByteArray(text).toLongLong(), Qt::UTC);
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// A field for COPY's text format: backslash, tab and line ends escaped.
void appendCopyField(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

struct Key {
    QString station;
    int channel;
    qint64 utc;
    bool operator==(const Key &o) const { return channel == o.channel && utc == o.utc && station == o.station; }
};
size_t qHash(const Key &k, size_t seed = 0) { return ::qHash(k.station, seed) ^ ::qHash(k.utc, seed) ^ size_t(k.channel); }

class PostgresStore : public ReadingStore {
public:
    PostgresStore(PGconn *conn, const QString &name) : conn_(conn), name_(name) {}
    ~PostgresStore() override { PQfinish(conn_); }

    QString name() const override { return name_; }

    bool fail(QString *error, const QString &what, const PGresult *result = nullptr) const
    {
        const QString reason = QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(conn_)).trimmed();
        const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        if (silent_)
            *error = QStringLiteral("the store %1 did not answer within %2 s (no reply came, not even the server's "
                                    "own timeout: the connection is given up); %3")
                         .arg(name_, seconds(replyLimitMs() - kGraceMs), what);
        else if (state && std::strcmp(state, "57014") == 0 && statementTimeoutMs_ > 0)
            *error = QStringLiteral("the store %1 did not answer within %2 s (%3); %4")
                         .arg(name_, seconds(statementTimeoutMs_), reason, what);
        else
            *error = QStringLiteral("%1: %2: %3").arg(name_, what, reason);
        return false;
    }

    // The statement timeout, ours unless the connection's options set one.
    bool limitStatements(QString *error)
    {
        const QString what = QStringLiteral("its statement timeout could not be set");
        if (!optionOf(conn_, "options").contains("statement_timeout")
            && !runAll({QByteArray("SET statement_timeout = " + QByteArray::number(kDefaultStatementTimeoutMs))
                            .constData()},
                       error, what))
            return false;
        const Result limit = run("SELECT setting FROM pg_settings WHERE name = 'statement_timeout'");
        if (!good(limit) || PQntuples(limit.get()) != 1)
            return fail(error, what, limit.get());
        statementTimeoutMs_ = atoi(PQgetvalue(limit.get(), 0, 0));
        return true;
    }

    // `params` bound as text; a null QString goes as SQL NULL.
    Result run(const char *sql, const QStringList &params = {})
    {
        std::vector<QByteArray> values;
        std::vector<const char *> pointers;
        for (const QString &p : params)
            values.push_back(p.toUtf8());
        for (size_t i = 0; i < values.size(); ++i)
            pointers.push_back(params[int(i)].isNull() ? nullptr : values[i].constData());
        if (silent_ || !PQsendQueryParams(conn_, sql, int(pointers.size()), nullptr, pointers.data(), nullptr, nullptr, 0))
            return Result(nullptr, &PQclear);
        return lastResult();
    }

    // The same for statements without parameters, several in one text allowed.
    Result send(const char *sql)
    {
        if (silent_ || !PQsendQuery(conn_, sql))
            return Result(nullptr, &PQclear);
        return lastResult();
    }

    // How long a reply may take: the statement timeout and a grace; 0, none.
    qint64 replyLimitMs() const
    {
        const qint64 statement = statementTimeoutMs_ >= 0 ? statementTimeoutMs_ : kDefaultStatementTimeoutMs;
        return statement > 0 ? statement + kGraceMs : 0;
    }

    // The last result of what was sent (a COPY's start at once); null when the
    // connection failed, or when no reply came within replyLimitMs, which
    // leaves the connection silent_: its state is no longer known.
    Result lastResult()
    {
        Result last(nullptr, &PQclear);
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            while (PQisBusy(conn_)) {
                const qint64 limit = replyLimitMs();
                const qint64 left = limit - waited.elapsed();
                if (limit > 0 && left <= 0) {
                    silent_ = true;
                    return Result(nullptr, &PQclear);
                }
                pollfd socket{PQsocket(conn_), POLLIN, 0};
                if (::poll(&socket, 1, limit > 0 ? int(std::min<qint64>(left, 1000)) : 1000) < 0 && errno != EINTR)
                    return Result(nullptr, &PQclear);
                if (!PQconsumeInput(conn_))
                    break; // the failure comes as the next result
            }
            PGresult *next = PQgetResult(conn_);
            if (!next)
                return last;
            last.reset(next);
            if (PQresultStatus(next) == PGRES_COPY_IN)
                return last;
        }
    }

    static bool good(const Result &r)
    {
        const ExecStatusType s = PQresultStatus(r.get());
        return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
    }

    // Runs each statement in turn; false at the first that fails, with *error set.
    bool runAll(std::initializer_list<const char *> statements, QString *error, const QString &what)
    {
        for (const char *sql : statements) {
            const Result r = send(sql);
            if (!good(r))
                return fail(error, what, r.get());
        }
        return true;
    }

    void rollback() { send("ROLLBACK"); }

    // Whether the schema_version table holds a row; one of another version
    // is refused. nullopt with *error set when it cannot be told.
    std::optional<bool> versioned(QString *error, const QString &what)
    {
        const Result version = run("SELECT version FROM schema_version");
        if (!good(version))
            return fail(error, what, version.get()), std::nullopt;
        if (PQntuples(version.get()) > 0 && atoi(PQgetvalue(version.get(), 0, 0)) != kStoreSchemaVersion) {
            *error = QStringLiteral("%1 holds schema version %2, this program writes version %3: give it a "
                                    "store of its own or use the program that made it")
                         .arg(name_, QString::fromLatin1(PQgetvalue(version.get(), 0, 0)))
                         .arg(kStoreSchemaVersion);
            return std::nullopt;
        }
        return PQntuples(version.get()) > 0;
    }

    bool createSchema(QString *error)
    {
        const QString what = QStringLiteral("the tables could not be made");
        if (!runAll({"SET client_min_messages = warning"}, error, what))
            return false;
        // A store already set up is only read: collectors starting together take no lock for it.
        const Result present = run("SELECT to_regclass('schema_version') IS NOT NULL");
        if (!good(present))
            return fail(error, what, present.get());
        if (QByteArray(PQgetvalue(present.get(), 0, 0)) == "t") {
            const auto held = versioned(error, what);
            if (!held)
                return false;
            if (*held)
                return true;
        }
        if (!runAll({"BEGIN", kSchemaLock, kSchema}, error, what))
            return rollback(), false;
        const auto held = versioned(error, what);
        if (!held)
            return rollback(), false;
        if (!*held) {
            const Result insert = run("INSERT INTO schema_version (version) VALUES ($1)",
                                      {QString::number(kStoreSchemaVersion)});
            if (!good(insert))
                return fail(error, what, insert.get()), rollback(), false;
        }
        return runAll({"COMMIT"}, error, what) || (rollback(), false);
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
        const bool stored = runAll({"BEGIN"}, error, what) && (clear = spanIsClear(w.readings, error, what))
                            && (*clear ? copyIn("readings", w.readings, result, error, what)
                                 : runAll({"CREATE TEMPORARY TABLE incoming (LIKE readings INCLUDING DEFAULTS) "
                                           "ON COMMIT DROP"},
                                          error, what)
                                       && copyIn("incoming", w.readings, result, error, what)
                                       && settle(result, error, what))
                            && storeBatchClashes(result, error, what);
        if (stored && *clear)
            result.inserted = incomingRows_;
        if (!stored || !writeRows(w, result.inserted, error, what) || !runAll({"COMMIT"}, error, what)) {
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
        QHash<Key, double> seen;
        seen.reserve(qsizetype(readings.size()));
        QByteArray buffer;
        constexpr qsizetype kChunk = 1 << 20;
        QDateTime lastUtc;
        QByteArray utc;
        for (const StoredReading &r : readings) {
            const Key key{r.station, r.channel, r.timeUtc.toSecsSinceEpoch()};
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

    static QStringList fields(const StoredReading &r)
    {
        return {r.station, QString::number(r.channel), r.label, r.unit.isEmpty() ? QString() : r.unit,
                utcText(r.timeUtc), r.timeLocal, QString::number(r.value, 'g', 17)};
    }

    static StoredReading readingAt(const PGresult *r, int row)
    {
        const auto text = [&](int column) { return QString::fromUtf8(PQgetvalue(r, row, column)); };
        return {text(0), text(1).toInt(), text(2), text(3), utcFromEpoch(PQgetvalue(r, row, 4)), text(5),
                QByteArray(PQgetvalue(r, row, 6)).toDouble()};
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

private:
    PGconn *conn_;
    QString name_;
    int statementTimeoutMs_ = -1; // -1: not known yet
    bool silent_ = false;
    std::vector<StoredReading> batchClashes_;
    int incomingRows_ = 0;
};

} // namespace

std::unique_ptr<ReadingStore> openPostgresStore(const QString &connection, QString *error)
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
    auto store = std::make_unique<PostgresStore>(conn, postgresName(connection));
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
    if (!store->limitStatements(error) || !store->createSchema(error))
        return nullptr;
    return store;
}

namespace {

bool recognizesPostgres(const QString &url)
{
    return url.startsWith(QLatin1String("postgresql://")) || url.startsWith(QLatin1String("postgres://"))
           || (url.contains(u'=') && !url.contains(QLatin1String("://")));
}

std::optional<StoreLocation> locatePostgres(const QString &url, const QString &, QString *)
{
    return StoreLocation{StoreLocation::Kind::Postgres, url};
}

QStringList noFiles(const QString &)
{
    return {};
}

} // namespace

const StoreBackend kPostgresBackend{StoreLocation::Kind::Postgres,
                                    "postgresql://HOST/DATABASE or a libpq \"host=... dbname=...\" string",
                                    recognizesPostgres, locatePostgres, postgresName, noFiles, openPostgresStore,
                                    openPostgresStore, true};

} // namespace ostrand::collect
