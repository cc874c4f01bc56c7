#include "sqlite_store.h"

#include "store/day_counts.h"
#include "store/sqlite/sqlite_day_counts.h"
#include "store/sqlite/sqlite_statement.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

namespace ostrand::collect {
namespace {

// How often a journal mode another connection keeps from changing is asked for again.
constexpr unsigned long kJournalRetryMs = 20;

// The outbox's key: numbers never given twice, so a publisher removing what
// it sent cannot remove a newer row that took a freed number.
constexpr char kSerialKey[] = "INTEGER PRIMARY KEY AUTOINCREMENT";

// What a database holds before the store uses it.
enum class Contents { Empty, Ours, Refused };

class SqliteStore : public ReadingStore {
public:
    SqliteStore(sqlite3 *db, const QString &path, int waitMs, StoreUse use)
        : db_(db), path_(path), waitMs_(waitMs), use_(use)
    {
    }
    ~SqliteStore() override { sqlite3_close_v2(db_); }

    QString name() const override { return sqliteName(path_); }

    bool fail(QString *error, const QString &what) const
    {
        // Past the busy wait, another connection still holds the lock: a
        // program of its own, or one of ours in a transaction that long.
        if ((sqlite3_extended_errcode(db_) & 0xff) == SQLITE_BUSY)
            *error = QStringLiteral("the store %1 is locked by another program: waited %2 s; %3")
                         .arg(name(), QString::number(waitMs_ / 1000.0), what);
        else
            *error = QStringLiteral("%1: %2: %3").arg(name(), what, QString::fromUtf8(sqlite3_errmsg(db_)));
        return false;
    }

    bool exec(const char *sql, QString *error, const QString &what)
    {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK || fail(error, what);
    }

    // A single value read, nullopt when the step failed.
    std::optional<QString> value(const char *sql)
    {
        Statement select(db_, sql);
        if (!select.ok() || select.step() != SQLITE_ROW)
            return std::nullopt;
        return select.isNull(0) ? QString() : select.text(0);
    }

    // Whether the database is empty, ours, or to be left alone (*error saying why).
    std::optional<Contents> contents(QString *error)
    {
        const QString what = QStringLiteral("its tables could not be read");
        const auto tables = value("SELECT group_concat(name, ', ') FROM (SELECT name FROM sqlite_master "
                                  "WHERE name NOT LIKE 'sqlite%' ORDER BY name)");
        if (!tables)
            return fail(error, what), std::nullopt;
        if (tables->isEmpty())
            return Contents::Empty;
        const auto versioned = value("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'");
        if (!versioned)
            return fail(error, what), std::nullopt;
        // A row whatever the table holds: NULL when it holds none.
        const auto version = *versioned == QLatin1String("0")
                                 ? std::optional<QString>(QString())
                                 : value("SELECT (SELECT version FROM schema_version LIMIT 1)");
        if (!version)
            return fail(error, what), std::nullopt;
        if (version->isEmpty()) {
            *error = QStringLiteral("%1 is not a readings store: it holds other tables (%2) and no schema version; "
                                    "give the store a file of its own")
                         .arg(name(), *tables);
            return Contents::Refused;
        }
        version_ = version->toInt();
        if (version_ < kOldestStoreSchemaVersion || version_ > kStoreSchemaVersion) {
            *error = QStringLiteral("%1 holds schema version %2, this program writes version %3: give it a "
                                    "store of its own or use the program that made it")
                         .arg(name(), *version)
                         .arg(kStoreSchemaVersion);
            return Contents::Refused;
        }
        return Contents::Ours;
    }

    // Write-ahead logging, kept in the file once set (a file system without
    // it leaves SQLite's own journal, as before). Changing it needs the
    // database to itself, and SQLite does not wait for that through the busy
    // handler: another connection setting up the same new store is waited for here.
    bool setJournal(QString *error)
    {
        QElapsedTimer waited;
        waited.start();
        while (!value("PRAGMA journal_mode=WAL")) {
            if ((sqlite3_extended_errcode(db_) & 0xff) != SQLITE_BUSY || waited.elapsed() >= waitMs_)
                return fail(error, QStringLiteral("its journal could not be set"));
            QThread::msleep(kJournalRetryMs);
        }
        return true;
    }

    // Whether the store, ours, is as this connection's use wants it: a
    // reader reads an older schema as it is, a collector takes it up first.
    bool ready(Contents found) const
    {
        return found == Contents::Ours && (version_ == kStoreSchemaVersion || use_ == StoreUse::Reading);
    }

    // The tables are made only in an empty database, so a file of another
    // program is never changed; a store already set up is only read, or
    // taken up from an older schema in one transaction.
    bool setUp(QString *error)
    {
        auto found = contents(error);
        if (!found || *found == Contents::Refused)
            return false;
        // A reader's connection is read-only: it neither makes tables nor takes a schema up.
        if (use_ == StoreUse::Reading) {
            if (*found == Contents::Empty)
                *error = QStringLiteral("%1 holds no readings store yet: run collect with this store first").arg(name());
            return *found == Contents::Ours;
        }
        if (!setJournal(error))
            return false;
        if (ready(*found))
            return true;
        const QString what = *found == Contents::Empty
                                 ? QStringLiteral("the tables could not be made")
                                 : QStringLiteral("its schema could not be taken from version %1 to %2")
                                       .arg(version_)
                                       .arg(kStoreSchemaVersion);
        // Another connection may have done it since: asked again under the write lock.
        if (!exec("BEGIN IMMEDIATE", error, what))
            return false;
        found = contents(error);
        if (!found || *found == Contents::Refused)
            return rollback();
        if (ready(*found))
            return exec("COMMIT", error, what) || rollback();
        const bool empty = *found == Contents::Empty;
        const QByteArray tables = empty ? storeSchema("TEXT", " WITHOUT ROWID", kSerialKey)
                                       : storeSchemaSteps(version_, "TEXT", kSerialKey);
        if (!exec(tables.constData(), error, what))
            return rollback();
        Statement version(db_, empty ? "INSERT INTO schema_version (version) VALUES (?)"
                                     : "UPDATE schema_version SET version = ?");
        version.bind(1, kStoreSchemaVersion);
        if (version.step() != SQLITE_DONE)
            return fail(error, QStringLiteral("the schema version could not be written")) || rollback();
        if (!exec("COMMIT", error, what))
            return rollback();
        version_ = kStoreSchemaVersion;
        return true;
    }

    std::optional<StationMemory> remembered(const QString &station, QString *error) override
    {
        StationMemory memory;
        Statement cursor(db_, "SELECT cursor FROM collection_cursors WHERE station = ?");
        Statement last(db_, "SELECT max(time_utc) FROM readings WHERE station = ?");
        if (!cursor.ok() || !last.ok())
            return fail(error, QStringLiteral("the station's cursor could not be read")), std::nullopt;
        cursor.bind(1, station);
        last.bind(1, station);
        // A read that failed is no empty memory: the whole log would be taken again.
        const int cursorStep = cursor.step();
        if (cursorStep == SQLITE_ROW)
            memory.cursor = cursor.text(0);
        else if (cursorStep != SQLITE_DONE)
            return fail(error, QStringLiteral("the station's cursor could not be read")), std::nullopt;
        if (last.step() != SQLITE_ROW)
            return fail(error, QStringLiteral("the station's last reading could not be read")), std::nullopt;
        memory.lastReadingUtc = last.time(0);
        return memory;
    }

    std::optional<WriteResult> write(const StationWrite &w, QString *error) override
    {
        const QString what = QStringLiteral("station %1's readings were not stored").arg(w.station.name);
        if (!exec("BEGIN IMMEDIATE", error, what))
            return std::nullopt;
        WriteResult result;
        // The instants held before the batch, for the days it adds to: told
        // from what each insert did, the store asked only of an instant the
        // batch added to within a span it already held readings in.
        std::vector<bool> inserted;
        const std::optional<QSet<QString>> unclear = stationsHeldInSpan(db_, w.readings);
        std::optional<StationInstants> held;
        if (!unclear || !writeReadings(w.readings, result, inserted)
            || !(held = heldInstants(db_, w.readings, inserted, *unclear))
            || !writeDays(db_, addedDayCounts(w.readings, *held)) || !writeRows(w, result.inserted)
            || (w.publish && !queueForPublishing(w, inserted))
            || sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            fail(error, what);
            rollback();
            return std::nullopt;
        }
        return result;
    }

    bool writeReadings(const std::vector<StoredReading> &readings, WriteResult &result, std::vector<bool> &inserted)
    {
        inserted.assign(readings.size(), false);
        Statement insert(db_, "INSERT INTO readings VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING");
        Statement held(db_, "SELECT value FROM readings WHERE station = ? AND channel = ? AND time_utc = ?");
        Statement clash(db_, "INSERT INTO clashes VALUES (?, ?, ?, ?, ?, ?, ?)");
        if (!insert.ok() || !held.ok() || !clash.ok())
            return false;
        // A station's readings share their texts instant by instant and channel by
        // channel: each is made UTF-8 once.
        Utf8Cache station, label, unit, local;
        QDateTime lastUtc;
        QByteArray utc;
        for (size_t i = 0; i < readings.size(); ++i) {
            const StoredReading &r = readings[i];
            if (r.timeUtc != lastUtc) {
                lastUtc = r.timeUtc;
                utc = utcText(r.timeUtc).toLatin1();
            }
            const auto bindAll = [&](Statement &s) {
                s.reset();
                s.bindStatic(1, station.of(r.station));
                s.bind(2, r.channel);
                s.bindStatic(3, label.of(r.label));
                if (r.unit.isEmpty())
                    s.bindOrNull(4, r.unit);
                else
                    s.bindStatic(4, unit.of(r.unit));
                s.bindStatic(5, utc);
                s.bindStatic(6, local.of(r.timeLocal));
                s.bind(7, r.value);
            };
            bindAll(insert);
            if (insert.step() != SQLITE_DONE)
                return false;
            if (sqlite3_changes(db_) == 1) {
                ++result.inserted;
                inserted[i] = true;
                continue;
            }
            held.reset();
            held.bind(1, r.station);
            held.bind(2, r.channel);
            held.bindStatic(3, utc);
            if (held.step() != SQLITE_ROW)
                return false;
            if (held.real(0) == r.value) {
                ++result.duplicates;
                continue;
            }
            bindAll(clash);
            if (clash.step() != SQLITE_DONE)
                return false;
            result.clashes.push_back(r);
        }
        return true;
    }

    bool writeRows(const StationWrite &w, int inserted)
    {
        Statement station(db_, R"(INSERT INTO stations VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (name) DO UPDATE SET
            port = excluded.port, timezone = excluded.timezone, last_attempt_utc = excluded.last_attempt_utc,
            last_ok_utc = coalesce(excluded.last_ok_utc, stations.last_ok_utc), last_error = excluded.last_error)");
        Statement collection(db_, "INSERT INTO collections VALUES (?, ?, ?, ?, ?, ?, ?)");
        Statement cursor(db_, "INSERT INTO collection_cursors VALUES (?, ?) ON CONFLICT (station) DO UPDATE "
                              "SET cursor = excluded.cursor");
        if (!station.ok() || !collection.ok() || !cursor.ok())
            return false;
        const StationRow &s = w.station;
        station.bind(1, s.name);
        station.bind(2, s.port);
        station.bind(3, s.timezone);
        station.bind(4, s.lastAttemptUtc);
        station.bind(5, s.lastOkUtc);
        station.bindOrNull(6, s.lastError);
        const CollectionRow &c = w.collection;
        collection.bind(1, c.station);
        collection.bind(2, utcText(c.startedUtc));
        collection.bind(3, utcText(c.finishedUtc));
        collection.bind(4, c.result);
        collection.bind(5, inserted);
        collection.bind(6, c.attempts);
        collection.bindOrNull(7, c.error);
        cursor.bind(1, s.name);
        cursor.bind(2, w.cursor);
        return station.step() == SQLITE_DONE && collection.step() == SQLITE_DONE
               && (w.cursor.isEmpty() || cursor.step() == SQLITE_DONE);
    }

    bool rollback()
    {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }

    // One file has one host's collectors, kept apart by the stations file's lock.
    std::optional<StationClaim> claim(const QString &, const QDateTime &, QString *) override
    {
        return StationClaim::Taken;
    }
    void releaseClaim(const QString &) override {}

    std::optional<QDateTime> databaseNowUtc(QString *error) override
    {
        const auto now = value("SELECT strftime('%Y-%m-%dT%H:%M:%SZ', 'now')");
        if (!now)
            return fail(error, QStringLiteral("its clock could not be read")), std::nullopt;
        return utcFromText(*now);
    }

    bool recordCallInStates(const std::vector<CallInState> &states, QString *error) override
    {
        const QString what = QStringLiteral("the call-in lines were not recorded");
        if (!exec("BEGIN IMMEDIATE", error, what))
            return false;
        const QByteArray sql = QByteArray("INSERT INTO call_in_lines VALUES (?, ?, ?, ?, ?, ?)") + kCallInUpsertRule;
        Statement upsert(db_, sql.constData());
        bool ok = upsert.ok();
        for (const CallInState &state : states) {
            if (!ok)
                break;
            upsert.reset();
            upsert.bind(1, state.station);
            upsert.bind(2, state.connected ? 1 : 0);
            upsert.bind(3, state.peer);
            upsert.bind(4, utcText(state.sinceUtc));
            upsert.bind(5, utcText(state.heardUtc));
            upsert.bind(6, utcText(state.recordedUtc));
            ok = upsert.step() == SQLITE_DONE;
        }
        if (!ok || sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            fail(error, what);
            return rollback();
        }
        return true;
    }

    std::optional<std::vector<CallInState>> callInStates(QString *error) override
    {
        std::vector<CallInState> rows;
        if (version_ < kCallInLinesSchemaVersion)
            return rows;
        Statement select(db_, "SELECT station, connected, peer, since_utc, heard_utc, recorded_utc FROM call_in_lines "
                              "ORDER BY station");
        int step = SQLITE_ERROR;
        while (select.ok() && (step = select.step()) == SQLITE_ROW)
            rows.push_back({select.text(0), select.integer(1) != 0, select.text(2), utcFromText(select.text(3)),
                            utcFromText(select.text(4)), utcFromText(select.text(5))});
        if (step != SQLITE_DONE)
            return fail(error, QStringLiteral("the call-in lines could not be read")), std::nullopt;
        return rows;
    }

    std::optional<QHash<QString, QDateTime>> newestReadings(QString *error) override
    {
        // One channel at a time, each a seek on the key, never a scan of the station's readings.
        QByteArray newest = "SELECT max(t) FROM (";
        for (int channel = 1; channel <= 8; ++channel)
            newest += QByteArray(channel > 1 ? " UNION ALL " : "")
                      + "SELECT max(time_utc) AS t FROM readings WHERE station = ?1 AND channel = "
                      + QByteArray::number(channel);
        newest += ")";
        Statement names(db_, "SELECT name FROM stations");
        Statement select(db_, newest.constData());
        QHash<QString, QDateTime> times;
        int step = SQLITE_ERROR;
        while (names.ok() && select.ok() && (step = names.step()) == SQLITE_ROW) {
            const QString name = names.text(0);
            select.bind(1, name);
            if (select.step() != SQLITE_ROW) {
                step = SQLITE_ERROR;
                break;
            }
            if (const auto time = select.time(0))
                times.insert(name, *time);
            select.reset();
        }
        if (step != SQLITE_DONE)
            return fail(error, QStringLiteral("the stations' newest readings could not be read")), std::nullopt;
        return times;
    }

    std::optional<std::vector<DayCount>> dayCounts(const QDate &fromDay, QString *error) override
    {
        if (version_ < kDayCountsSchemaVersion)
            return std::vector<DayCount>{};
        auto rows = readDayCounts(db_, fromDay);
        if (!rows)
            fail(error, QStringLiteral("the day counts could not be read"));
        return rows;
    }

    std::optional<std::vector<StoredReading>> readings(const ReadingQuery &query, QString *error) override
    {
        QByteArray sql = "SELECT station, channel, label, unit, time_utc, time_local, value FROM readings "
                         "WHERE station = ?1";
        if (query.channel)
            sql += " AND channel = ?2";
        if (query.fromUtc)
            sql += " AND time_utc >= ?3";
        if (query.toUtc)
            sql += " AND time_utc < ?4";
        sql += " ORDER BY time_utc, channel";
        Statement select(db_, sql.constData());
        if (!select.ok())
            return fail(error, QStringLiteral("the readings could not be read")), std::nullopt;
        select.bind(1, query.station);
        if (query.channel)
            select.bind(2, *query.channel);
        if (query.fromUtc)
            select.bind(3, utcText(*query.fromUtc));
        if (query.toUtc)
            select.bind(4, utcText(*query.toUtc));
        std::vector<StoredReading> rows;
        int step;
        while ((step = select.step()) == SQLITE_ROW)
            rows.push_back({select.text(0), select.integer(1), select.text(2), select.text(3),
                            utcFromText(select.text(4)), select.text(5), select.real(6)});
        if (step != SQLITE_DONE)
            return fail(error, QStringLiteral("the readings could not be read")), std::nullopt;
        return rows;
    }

    std::optional<std::vector<StationRow>> stations(QString *error) override
    {
        Statement select(db_, "SELECT name, port, timezone, last_attempt_utc, last_ok_utc, last_error FROM stations "
                              "ORDER BY name");
        std::vector<StationRow> rows;
        int step = SQLITE_ERROR;
        while (select.ok() && (step = select.step()) == SQLITE_ROW)
            rows.push_back({select.text(0), select.text(1), select.text(2), select.time(3), select.time(4),
                            select.text(5)});
        if (step != SQLITE_DONE)
            return fail(error, QStringLiteral("the stations could not be read")), std::nullopt;
        return rows;
    }

    std::optional<std::vector<CollectionRow>> collections(const QDateTime &sinceUtc, QString *error) override
    {
        Statement select(db_, "SELECT station, started_utc, finished_utc, result, new_readings, attempts, error "
                              "FROM collections WHERE started_utc >= ? ORDER BY started_utc, station");
        std::vector<CollectionRow> rows;
        int step = SQLITE_ERROR;
        if (select.ok())
            select.bind(1, utcText(sinceUtc));
        while (select.ok() && (step = select.step()) == SQLITE_ROW)
            rows.push_back({select.text(0), utcFromText(select.text(1)), utcFromText(select.text(2)),
                            select.text(3), select.integer(4), select.integer(5), select.text(6)});
        if (step != SQLITE_DONE)
            return fail(error, QStringLiteral("the collections could not be read")), std::nullopt;
        return rows;
    }

    // The outbox: what waits to be published.

    // The readings this write inserted, in the meter's order, queued in its
    // transaction: a duplicate skipped was queued when it was first stored.
    bool queueForPublishing(const StationWrite &w, const std::vector<bool> &inserted)
    {
        Statement queue(db_, "INSERT INTO outbox (station, channel, time_utc, queued_utc) "
                             "VALUES (?, ?, ?, coalesce(?, strftime('%Y-%m-%dT%H:%M:%SZ', 'now')))");
        if (!queue.ok())
            return false;
        const QString queuedUtc = utcText(w.collection.finishedUtc);
        for (size_t i = 0; i < w.readings.size(); ++i) {
            if (!inserted[i])
                continue;
            const StoredReading *r = &w.readings[i];
            queue.reset();
            queue.bind(1, r->station);
            queue.bind(2, r->channel);
            queue.bind(3, utcText(r->timeUtc));
            queue.bindOrNull(4, queuedUtc);
            if (queue.step() != SQLITE_DONE)
                return false;
        }
        return true;
    }

    std::optional<std::vector<OutboxEntry>> outbox(const QString &station, int limit, QString *error) override
    {
        std::vector<OutboxEntry> rows;
        if (version_ < kOutboxSchemaVersion)
            return rows;
        QByteArray sql = "SELECT o.id, o.station, o.channel, r.label, r.unit, o.time_utc, r.time_local, r.value, "
                         "o.queued_utc FROM outbox o JOIN readings r ON r.station = o.station "
                         "AND r.channel = o.channel AND r.time_utc = o.time_utc";
        if (!station.isEmpty())
            sql += " WHERE o.station = ?2";
        sql += " ORDER BY o.id LIMIT ?1";
        Statement select(db_, sql.constData());
        int step = SQLITE_ERROR;
        if (select.ok()) {
            select.bind(1, std::max(limit, 0));
            if (!station.isEmpty())
                select.bind(2, station);
        }
        while (select.ok() && (step = select.step()) == SQLITE_ROW)
            rows.push_back({select.integer64(0),
                            {select.text(1), select.integer(2), select.text(3), select.text(4),
                             utcFromText(select.text(5)), select.text(6), select.real(7)},
                            utcFromText(select.text(8))});
        if (step != SQLITE_DONE)
            return fail(error, QStringLiteral("the outbox could not be read")), std::nullopt;
        return rows;
    }

    bool removeFromOutbox(const std::vector<qint64> &ids, QString *error) override
    {
        const QString what = QStringLiteral("the published readings could not be taken out of the outbox");
        if (ids.empty())
            return true;
        if (!exec("BEGIN IMMEDIATE", error, what))
            return false;
        Statement remove(db_, "DELETE FROM outbox WHERE id = ?");
        bool ok = remove.ok();
        for (auto id = ids.begin(); ok && id != ids.end(); ++id) {
            remove.reset();
            remove.bindInt64(1, *id);
            ok = remove.step() == SQLITE_DONE;
        }
        if (!ok || sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            fail(error, what);
            return rollback();
        }
        return true;
    }

    std::optional<std::vector<OutboxBacklog>> outboxBacklog(QString *error) override
    {
        std::vector<OutboxBacklog> rows;
        if (version_ < kOutboxSchemaVersion)
            return rows;
        Statement select(db_, "SELECT station, count(*), min(queued_utc) FROM outbox GROUP BY station ORDER BY station");
        int step = SQLITE_ERROR;
        while (select.ok() && (step = select.step()) == SQLITE_ROW)
            rows.push_back({select.text(0), select.integer64(1), utcFromText(select.text(2))});
        if (step != SQLITE_DONE)
            return fail(error, QStringLiteral("the outbox could not be read")), std::nullopt;
        return rows;
    }

private:
    sqlite3 *db_;
    QString path_;
    int waitMs_;
    StoreUse use_;
    int version_ = 0; // of the schema, once read
};

} // namespace

std::unique_ptr<ReadingStore> openSqliteStore(const QString &path, QString *error, int waitMs, StoreUse use)
{
    // Under the outputs' rules: a scheduled run, often root, would otherwise
    // make any file a link planted in a shared folder names into a store.
    if (const QString problem = storeFileProblem(path); !problem.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(sqliteName(path), problem);
        return nullptr;
    }
    sqlite3 *db = nullptr;
    // NOFOLLOW: a link put there since the check is refused all the same. A
    // reader's connection cannot write, whatever it is asked.
    const int access = use == StoreUse::Reading ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int status = sqlite3_open_v2(path.toUtf8().constData(), &db,
                                       access | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr);
    auto store = std::make_unique<SqliteStore>(db, path, waitMs, use);
    if (status != SQLITE_OK) {
        store->fail(error, use == StoreUse::Reading
                               ? QStringLiteral("it could not be opened for reading (check that it may be read)")
                               : QStringLiteral("it could not be opened (check that its folder %1 exists and may be "
                                                "written)")
                                     .arg(QFileInfo(path).absolutePath()));
        return nullptr;
    }
    sqlite3_busy_timeout(db, waitMs);
    if (!store->setUp(error))
        return nullptr;
    return store;
}

} // namespace ostrand::collect
