#include "collect/grid_readings.h"
#include "table/results_grid.h"
#include "store/reading_store.h"
#include "store/station_time.h"
#include "store/sqlite/sqlite_store.h"
#include "file_bytes.h"
#include "postgres_server.h"
#include "store_kinds.h"
#include "qt_printers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <atomic>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace ostrand::collect;
using namespace ostrand::testing;

namespace {

PostgresServer &server = PostgresServer::instance();
const QDateTime kRunAt = utcFromText("2026-12-07T06:00:00Z");

StoredReading reading(int channel, const char *time, double value, const char *station = "north")
{
    return {station, channel, "Flow (GPM)", channel == 1 ? "GPM" : "", utcFromText(time), QString("at %1").arg(time), value};
}

StationWrite run(std::vector<StoredReading> readings, const QString &cursor = {}, const QString &error = {})
{
    const QString station = readings.empty() ? "north" : readings[0].station;
    return {StationRow{station, "COM1", "Europe/London", kRunAt, error.isEmpty() ? std::optional(kRunAt) : std::nullopt, error},
            CollectionRow{station, kRunAt.addSecs(-5), kRunAt, "ok", 0, 1, {}}, std::move(readings), cursor};
}

QStringList summary(const std::vector<StoredReading> &readings)
{
    QStringList lines;
    for (const StoredReading &r : readings)
        lines << QString("%1 %2 %3 %4 '%5' '%6' %7").arg(r.station).arg(r.channel).arg(utcText(r.timeUtc), r.timeLocal,
                                                                                         r.label, r.unit).arg(r.value);
    return lines;
}

sqlite3 *openRaw(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path), &db);
    return db;
}

// Runs `sql` on the SQLite file at `path` as another program would.
void sqliteExec(const QString &path, const char *sql)
{
    sqlite3 *db = openRaw(path);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

class BothStores : public ::testing::TestWithParam<StoreLocation::Kind> {};

} // namespace

// One table of runs over both databases; a store opened again remembers the cursor and the last reading.
TEST_P(BothStores, aRunAgainAddsNothingAndAReadingOfAnotherValueIsKeptAsAClash)
{
    QTemporaryDir dir;
    const StoreLocation location{GetParam(), GetParam() == StoreLocation::Kind::Sqlite ? dir.filePath("flow.db")
                                                                                       : server.newDatabase("clashes")};
    QString error;
    auto store = openReadingStore(location, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    const struct {
        StationWrite write;
        int inserted, duplicates;
        QStringList clashes;
    } runs[] = {
        {run({reading(1, "2026-10-25T00:15:00Z", 1.5), reading(2, "2026-10-25T00:15:00Z", 1e37),
              reading(1, "2026-10-25T01:15:00Z", 0.1)}, "08 80 08 1111111111111111"), 3, 0, {}},
        // The same again: nothing twice, no clash.
        {run({reading(1, "2026-10-25T00:15:00Z", 1.5), reading(2, "2026-10-25T00:15:00Z", 1e37)}), 0, 2, {}},
        // A clock set back: the stored value stays, the other goes to clashes; one batch may clash with itself.
        {run({reading(1, "2026-10-25T00:15:00Z", 7), reading(3, "2026-10-25T02:00:00Z", -1e-37),
              reading(3, "2026-10-25T02:00:00Z", -1e-37), reading(3, "2026-10-25T02:00:00Z", 4)}),
         1, 1, {"north 1 2026-10-25T00:15:00Z at 2026-10-25T00:15:00Z 'Flow (GPM)' 'GPM' 7",
                "north 3 2026-10-25T02:00:00Z at 2026-10-25T02:00:00Z 'Flow (GPM)' '' 4"}},
        {run({reading(1, "2026-10-25T00:15:00Z", 3, "south")}), 1, 0, {}},
        // A failed run keeps the cursor and the last success.
        {run({}, {}, "no reply"), 0, 0, {}},
    };
    for (const auto &r : runs) {
        const auto written = store->write(r.write, &error);
        ASSERT_TRUE(written) << qPrintable(error);
        EXPECT_EQ(written->inserted, r.inserted);
        EXPECT_EQ(written->duplicates, r.duplicates);
        EXPECT_EQ(summary(written->clashes), r.clashes);
    }
    store = openReadingStore(location, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    const auto all = store->readings({"north", {}, {}, {}}, &error);
    ASSERT_TRUE(all) << qPrintable(error);
    EXPECT_EQ(summary(*all), QStringList({"north 1 2026-10-25T00:15:00Z at 2026-10-25T00:15:00Z 'Flow (GPM)' 'GPM' 1.5",
                                          "north 2 2026-10-25T00:15:00Z at 2026-10-25T00:15:00Z 'Flow (GPM)' '' 1e+37",
                                          "north 1 2026-10-25T01:15:00Z at 2026-10-25T01:15:00Z 'Flow (GPM)' 'GPM' 0.1",
                                          "north 3 2026-10-25T02:00:00Z at 2026-10-25T02:00:00Z 'Flow (GPM)' '' -1e-37"}));
    EXPECT_EQ(store->readings({"north", 1, utcFromText("2026-10-25T00:15:00Z"), utcFromText("2026-10-25T02:00:00Z")}, &error)->size(), 2u);
    EXPECT_EQ(store->readings({"north", {}, utcFromText("2026-10-25T00:15:01Z"), utcFromText("2026-10-25T02:00:00Z")}, &error)->size(), 1u);
    const auto memory = store->remembered("north", &error);
    ASSERT_TRUE(memory) << qPrintable(error);
    EXPECT_EQ(memory->cursor, "08 80 08 1111111111111111");
    EXPECT_EQ(memory->lastReadingUtc, utcFromText("2026-10-25T02:00:00Z"));
    EXPECT_TRUE(store->remembered("west", &error)->cursor.isEmpty());
    const auto stations = store->stations(&error);
    ASSERT_TRUE(stations && stations->size() == 2) << qPrintable(error);
    EXPECT_EQ((*stations)[0].lastError, "no reply");
    EXPECT_EQ((*stations)[0].lastOkUtc, kRunAt);
    const auto runsStored = store->collections(kRunAt.addSecs(-5), &error);
    ASSERT_TRUE(runsStored && runsStored->size() == 5) << qPrintable(error);
    EXPECT_EQ((*runsStored)[0].newReadings, 3);
    EXPECT_EQ(store->collections(kRunAt.addSecs(-4), &error)->size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Store, BothStores, kBothStoreKinds);

// What went wrong names the database and gives its reason (a PostgreSQL one's, without its password, in StorePasswords;
// a store of a later version, CallInStore.aStoreOfALaterVersionIsRefusedAndLeftAsItWas).
TEST(StoreErrors, aStoreThatCannotBeUsedIsNamedWithItsReason)
{
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(openReadingStore({StoreLocation::Kind::Sqlite, dir.filePath("none/flow.db")}, &error));
    EXPECT_TRUE(error.contains(QString("SQLite database %1: it could not be opened (check that its folder %2 exists and may be "
                                       "written): unable to open database file").arg(dir.filePath("none/flow.db"), dir.filePath("none"))))
        << qPrintable(error);
}

// Every line of a first collection opens the new store at once; none may fail for another's set-up.
TEST(SqliteStoreSetUp, severalThreadsOpeningOneNewStoreAtOnceAllGetIt)
{
    constexpr int kThreads = 6;
    for (int round = 0; round < 15; ++round) {
        QTemporaryDir dir;
        const StoreLocation location{StoreLocation::Kind::Sqlite, dir.filePath("flow.db")};
        std::atomic<int> ready{0};
        QStringList errors[kThreads];
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back(QThread::create([&, t] {
                ++ready;
                while (ready < kThreads)
                    QThread::yieldCurrentThread();
                QString error;
                auto store = openReadingStore(location, &error);
                if (!store || !store->write(run({reading(1, "2026-10-25T00:15:00Z", t, qPrintable(QString("s%1").arg(t)))}), &error))
                    errors[t] << error;
            }));
            threads.back()->start();
        }
        for (const auto &thread : threads)
            thread->wait();
        for (const QStringList &e : errors)
            ASSERT_TRUE(e.isEmpty()) << "round " << round << ": " << qPrintable(e.join('\n'));
    }
}

// The store's file is kept as a station's output is: what is refused is left as it was.
TEST(SqliteStoreSetUp, aLinkAForeignDatabaseOrAFileInASharedFolderIsRefusedAndLeftAsItWas)
{
    QTemporaryDir dir;
    const QString secret = dir.filePath("secret"), shared = dir.filePath("shared"), foreign = dir.filePath("foreign.db");
    QFile(secret).open(QIODevice::WriteOnly);
    QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(QDir(dir.path()).mkdir("shared"));
    ::chmod(QFile::encodeName(shared), 01777);
    ASSERT_EQ(::symlink(QFile::encodeName(secret), QFile::encodeName(shared + "/planted.db")), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(secret), QFile::encodeName(dir.filePath("mine.db"))), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("pipe.db")), 0600), 0);
    sqliteExec(foreign, "CREATE TABLE readings (id INTEGER, what TEXT)");
    sqliteExec(dir.filePath("unversioned.db"), "CREATE TABLE readings (id INTEGER); CREATE TABLE schema_version (version INTEGER)");
    const QByteArray foreignBytes = readFileBytes(foreign);
    writeFileBytes(dir.filePath("notes.db"), "Not a database at all, but someone's notes.\n");
    const struct { QString path, error; } rows[] = {
        {shared + "/planted.db", "is a symbolic link; a SQLite store must be named by the file itself"},
        {dir.filePath("mine.db"), "is a symbolic link; a SQLite store must be named by the file itself"},
        {shared + "/flow.db", "is in " + shared + ", a folder any user may write"},
        {dir.filePath("pipe.db"), "is a pipe; a SQLite store must be a regular file"},
        {dir.path(), "is a folder; a SQLite store must be a regular file"},
        {foreign, "is not a readings store: it holds other tables (readings) and no schema version"},
        {dir.filePath("unversioned.db"), "is not a readings store: it holds other tables (readings, schema_version) and no schema version"},
        {dir.filePath("notes.db"), "file is not a database"},
    };
    for (const auto &row : rows) {
        QString error;
        EXPECT_FALSE(openReadingStore({StoreLocation::Kind::Sqlite, row.path}, &error)) << qPrintable(row.path);
        EXPECT_TRUE(error.startsWith("SQLite database " + row.path) && error.contains(row.error)) << qPrintable(error);
    }
    EXPECT_EQ(readFileBytes(secret), QByteArray());
    EXPECT_EQ(readFileBytes(foreign), foreignBytes);
    EXPECT_EQ(readFileBytes(dir.filePath("notes.db")), "Not a database at all, but someone's notes.\n");
    EXPECT_FALSE(QFile::exists(shared + "/flow.db"));
}

// A lock another program holds is waited for once, and named; a read that fails is an error,
// not a station the store has never seen (whose whole log would be taken again).
TEST(SqliteStoreReads, aLockedStoreIsWaitedForOnceAndADamagedOneFailsTheCursorRead)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("flow.db");
    QString error;
    {
        auto store = openReadingStore({StoreLocation::Kind::Sqlite, path}, &error);
        ASSERT_TRUE(store && store->write(run({reading(1, "2026-10-25T00:15:00Z", 1)}, "08 80 08 1111111111111111"), &error))
            << qPrintable(error);
    }
    // Another program's exclusive lock, as `sqlite3` with locking_mode exclusive leaves it.
    sqlite3 *other = openRaw(path);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM clashes;", nullptr,
                           nullptr, nullptr), SQLITE_OK);
    QElapsedTimer waited;
    waited.start();
    EXPECT_FALSE(openSqliteStore(path, &error, 300));
    EXPECT_LT(waited.elapsed(), 2000);
    EXPECT_EQ(error, "the store SQLite database " + path + " is locked by another program: waited 0.3 s; its tables "
                     "could not be read");
    sqlite3_close(other);
    // A writer holding it while a station is stored: the write waits once, and says why.
    auto store = openSqliteStore(path, &error, 300);
    ASSERT_TRUE(store) << qPrintable(error);
    other = openRaw(path);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; DELETE FROM clashes;", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(store->write(run({reading(1, "2026-10-25T01:15:00Z", 1)}), &error));
    EXPECT_EQ(error, "the store SQLite database " + path + " is locked by another program: waited 0.3 s; station "
                     "north's readings were not stored");
    EXPECT_EQ(store->remembered("north", &error).value().cursor, "08 80 08 1111111111111111");
    sqlite3_close(other);
    store.reset();

    // The readings' pages overwritten: the station's last reading cannot be read.
    sqlite3 *db = openRaw(path);
    sqlite3_stmt *root = nullptr;
    sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name = 'readings'", -1, &root, nullptr);
    ASSERT_EQ(sqlite3_step(root), SQLITE_ROW);
    const int page = sqlite3_column_int(root, 0);
    sqlite3_finalize(root);
    sqlite3_close(db);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek(qint64(page - 1) * 4096));
    file.write(QByteArray(4096, '\xff'));
    file.close();
    store = openReadingStore({StoreLocation::Kind::Sqlite, path}, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    EXPECT_FALSE(store->remembered("north", &error));
    EXPECT_EQ(error, "SQLite database " + path + ": the station's last reading could not be read: database disk image is malformed");
}

// A statement kept waiting by another's lock, and a server process that stops answering: each given up on in time
// (one that never answers at all is given up on by collect, export and status in StoreLimits).
TEST(PostgresStoreLimits, aServerThatNeverAnswersAndAStatementKeptWaitingAreGivenUpOn)
{
    QString error;
    QElapsedTimer waited;
    const QString url = server.newDatabase("limits");
    auto store = openReadingStore({StoreLocation::Kind::Postgres, url + " options='-c statement_timeout=300'"}, &error);
    ASSERT_TRUE(store && store->write(run({reading(1, "2026-10-25T00:15:00Z", 1)}), &error)) << qPrintable(error);
    PGconn *other = PQconnectdb(url.toUtf8().constData());
    PQclear(PQexec(other, "BEGIN; LOCK TABLE readings IN ACCESS EXCLUSIVE MODE"));
    waited.start();
    EXPECT_FALSE(store->readings({"north", {}, {}, {}}, &error));
    EXPECT_LT(waited.elapsed(), 3000);
    EXPECT_TRUE(error.startsWith("the store PostgreSQL database limits on ") && error.contains(" did not answer within 0.3 s ("))
        << qPrintable(error);
    PQfinish(other);

    // A server process that stops answering mid-connection (its host still taking the packets).
    store = openReadingStore({StoreLocation::Kind::Postgres, url + " application_name=stopped options='-c statement_timeout=300'"}, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    PGconn *admin = PQconnectdb(url.toUtf8().constData());
    PGresult *found = PQexec(admin, "SELECT pid FROM pg_stat_activity WHERE application_name = 'stopped'");
    ASSERT_EQ(PQntuples(found), 1);
    const pid_t backend = atoi(PQgetvalue(found, 0, 0));
    PQclear(found);
    PQfinish(admin);
    ASSERT_EQ(::kill(backend, SIGSTOP), 0);
    waited.restart();
    EXPECT_FALSE(store->readings({"north", {}, {}, {}}, &error));
    const qint64 tookMs = waited.elapsed();
    EXPECT_FALSE(store->remembered("north", &error));
    EXPECT_LT(waited.elapsed() - tookMs, 100) << "a connection given up on is not waited on again";
    ::kill(backend, SIGCONT);
    EXPECT_GT(tookMs, 5000);
    EXPECT_LT(tookMs, 8000);
    EXPECT_TRUE(error.contains(" did not answer within 0.3 s (no reply came, not even the server's own timeout"))
        << qPrintable(error);
}

// A meter's local stamps, in logging order, to UTC; London's clocks go forward
// on 29 March 2026 at 01:00 and back on 25 October at 02:00.
TEST(StationTime, localStampsBecomeUtcByTheZoneAndTheClock)
{
    const struct {
        const char *zone;
        MeterClock clock;
        const char *previous; // the station's last stored reading; empty: none
        QStringList stamps;
        QStringList utc;
        int skipped;
    } rows[] = {
        // The repeated hour: each 01:15 the first time after the one before.
        {"Europe/London", MeterClock::Local, "",
         {"2026-10-25 00:45", "2026-10-25 01:15", "2026-10-25 01:45", "2026-10-25 01:15", "2026-10-25 01:45", "2026-10-25 02:15"},
         {"2026-10-24T23:45:00Z", "2026-10-25T00:15:00Z", "2026-10-25T00:45:00Z", "2026-10-25T01:15:00Z",
          "2026-10-25T01:45:00Z", "2026-10-25T02:15:00Z"}, 0},
        // The next run goes on from what the last one stored.
        {"Europe/London", MeterClock::Local, "2026-10-25T00:45:00Z", {"2026-10-25 01:15", "2026-10-25 01:45"},
         {"2026-10-25T01:15:00Z", "2026-10-25T01:45:00Z"}, 0},
        // The whole log again: the repeated hour falls where it fell the first time.
        {"Europe/London", MeterClock::Local, "2026-10-25T02:15:00Z", {"2026-10-25 01:15", "2026-10-25 01:45", "2026-10-25 01:15"},
         {"2026-10-25T00:15:00Z", "2026-10-25T00:45:00Z", "2026-10-25T01:15:00Z"}, 0},
        // The skipped hour: at the standard offset, and counted.
        {"Europe/London", MeterClock::Local, "", {"2026-03-29 00:45", "2026-03-29 01:15", "2026-03-29 01:45", "2026-03-29 02:00"},
         {"2026-03-29T00:45:00Z", "2026-03-29T01:15:00Z", "2026-03-29T01:45:00Z", "2026-03-29T01:00:00Z"}, 2},
        // A meter kept on standard time: one offset all year, no hour skipped or repeated.
        {"America/New_York", MeterClock::Standard, "", {"2026-01-01 12:00", "2026-07-01 12:00", "2026-03-08 02:30", "2026-11-01 01:30"},
         {"2026-01-01T17:00:00Z", "2026-07-01T17:00:00Z", "2026-03-08T07:30:00Z", "2026-11-01T06:30:00Z"}, 0},
        {"Asia/Kolkata", MeterClock::Local, "", {"2026-06-01 00:00"}, {"2026-05-31T18:30:00Z"}, 0},
    };
    for (const auto &row : rows) {
        StationTime time(QTimeZone(row.zone), row.clock,
                         *row.previous ? std::optional<QDateTime>(utcFromText(row.previous)) : std::nullopt);
        QStringList got;
        for (const QString &stamp : row.stamps)
            got << utcText(time.toUtc(QDateTime::fromString(stamp, "yyyy-MM-dd HH:mm")));
        EXPECT_EQ(got, row.utc) << row.zone << " " << qPrintable(row.stamps.join(", "));
        EXPECT_EQ(time.skippedHourStamps(), row.skipped) << qPrintable(row.stamps.join(", "));
    }
}

// The grid's stamps as the download writes them, the midnight rule already applied.
TEST(StationTime, gridStampsAreReadBack)
{
    const std::pair<const char *, const char *> rows[] = {
        {"3/15/2004 2:30:00 PM", "2004-03-15 14:30:00"}, {"4/1/2004", "2004-04-01 00:00:00"},
        {"12/31/2026 12:05:00 AM", "2026-12-31 00:05:00"}, {"1/2/2026 12:45:00 PM", "2026-01-02 12:45:00"},
        {"2/30/2026 1:00:00 AM", ""}, {"3/15/2004 14:30:00", ""}, {"", ""}, {"3/15/2004 2:30:00 XM", ""},
    };
    for (const auto &[text, local] : rows) {
        const auto time = gridStampTime(text);
        EXPECT_EQ(time ? time->toString("yyyy-MM-dd HH:mm:ss") : QString(), local) << text;
    }
}

// The unit column holds a unit someone stated: the stations file's for the channel's role, else the
// label's in parentheses. "Flow Tot" names no unit "Tot", and "Velocity ft" none either.
TEST(StationTime, aStoredUnitIsTheOneGivenForTheRoleOrTheLabelsInParentheses)
{
    ostrand::ResultsGrid grid(3, ostrand::kGridCols);
    grid.setRowTexts(2, {"", "7/1/2026 9:15:00 AM", "12.5", "3000", "2", "0.5"});
    ostrand::GridState state;
    state.lastGridRow = 2;
    const char *labels[] = {"Flow (GPM)", "Flow Tot", "Level", "Velocity ft"};
    for (int k = 1; k <= 4; ++k)
        state.channel(k).takeMeterLabel(labels[k - 1]);
    ostrand::survey::SurveySetup totalGiven;
    totalGiven.totalUnit = ostrand::survey::TotalUnit::Gallon;
    totalGiven.totalUnitGiven = true;
    ostrand::survey::SurveySetup flowGiven;
    flowGiven.flowUnit = ostrand::survey::FlowUnit::LitrePerSecond;
    flowGiven.flowUnitGiven = true;
    flowGiven.roles.depth = 4; // a velocity channel taken as the depth: the role is the user's to say
    flowGiven.depthUnit = ostrand::survey::DepthUnit::Metre;
    flowGiven.depthUnitGiven = true;
    const std::pair<ostrand::survey::SurveySetup, QStringList> rows[] = {
        {{}, {"GPM", "", "", ""}},
        {totalGiven, {"GPM", "gal", "", ""}},
        {flowGiven, {"l/s", "", "", "m"}},
    };
    for (const auto &[setup, units] : rows) {
        StationTime time(QTimeZone("Europe/London"), MeterClock::Local, std::nullopt);
        QStringList got;
        for (const StoredReading &r : gridReadings(grid, state, "north", time, setup))
            got << r.unit;
        EXPECT_EQ(got, units);
    }
}
