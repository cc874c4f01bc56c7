#include "collect_scene.h"
#include "collect/grid_readings.h"
#include "store/reading_store.h"
#include "postgres_server.h"
#include "silent_server.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>
#include <libpq-fe.h>

using namespace ostrand::collect;
using namespace ostrand::testing;

namespace {

PostgresServer &server = PostgresServer::instance();

// "local stamp|channel|value" of every reading, sorted: the CSV file's, or the store's when given.
QStringList readingsOf(const QByteArray &csv, const std::vector<StoredReading> &stored = {})
{
    QStringList got;
    for (const QByteArray &line : csv.split('\n').mid(1)) {
        const QStringList cells = QString::fromLatin1(line.trimmed()).split(u',');
        for (qsizetype k = 1; gridStampTime(cells[0]) && k < cells.size(); ++k)
            got << QString("%1|%2|%3").arg(gridStampTime(cells[0])->toString("yyyy-MM-dd HH:mm:ss")).arg(k).arg(cells[k]);
    }
    for (const StoredReading &r : stored)
        got << QString("%1|%2|%3").arg(r.timeLocal).arg(r.channel).arg(r.value, 0, 'g', 15);
    got.sort();
    return got;
}

// The station's readings in the store, as readingsOf gives them.
QStringList stored(ReadingStore &store, const QString &station = "north")
{
    QString error;
    return readingsOf({}, store.readings({station, {}, {}, {}}, &error).value_or(std::vector<StoredReading>{}));
}

std::vector<CollectionRow> runsIn(ReadingStore &store)
{
    QString error;
    return store.collections(QDateTime::fromSecsSinceEpoch(0, Qt::UTC), &error).value_or(std::vector<CollectionRow>{});
}

// The application names of the connections holding a station's claim now.
QStringList claimHolders(const QString &url)
{
    PGconn *conn = PQconnectdb(url.toUtf8().constData());
    PGresult *held = PQexec(conn, "SELECT a.application_name FROM pg_locks l JOIN pg_stat_activity a USING (pid) "
                                  "WHERE l.locktype = 'advisory' AND l.granted");
    QStringList names;
    for (int row = 0; PQresultStatus(held) == PGRES_TUPLES_OK && row < PQntuples(held); ++row)
        names << PQgetvalue(held, row, 0);
    PQclear(held);
    PQfinish(conn);
    return names;
}

// On PostgreSQL, as hosts sharing a store are; what differs on SQLite is BothStores' in reading_store_tests.
class StoreCollect : public ::testing::Test {
protected:
    std::unique_ptr<ReadingStore> open(const QString &url)
    {
        return openReadingStore(*parseStoreUrl(url, dir.path(), &error), &error);
    }
    QTemporaryDir dir;
    QString error, stations = dir.filePath("s.ini"), report = dir.filePath("r.json");
};

} // namespace

// One meter logging every second, collected in turn as from two hosts: each file is the log up to its last run.
TEST_F(StoreCollect, twoStationsFilesWithFilesOfTheirOwnEachGetWhatTheOtherCollectedIntoTheSharedStore)
{
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start(dir.path(), {"--records", "20", "--log-every-seconds", "1"}, "COM1"));
    const QString url = server.newDatabase("twohosts");
    for (const char *host : {"a", "b"}) {
        QDir(dir.path()).mkdir(host);
        writeFileBytes(dir.filePath(host) + "/s.ini", northStation(sim.linkPath(), url, "timezone = Europe/London\n"));
    }
    const auto store = open(url);
    ASSERT_TRUE(store) << qPrintable(error);
    for (const char *host : {"a", "b", "a", "a", "b", "a"}) {
        SCOPED_TRACE(host);
        QThread::msleep(1200);
        const QString hostDir = dir.filePath(host);
        const CliRun run = runCli({"collect", "--stations", hostDir + "/s.ini", "--report", hostDir + "/r.json"});
        ASSERT_EQ(run.exitCode, 0) << qPrintable(run.errors);
        EXPECT_EQ(stationReport(hostDir + "/r.json")["clashes"].toInt(), 0);
        EXPECT_EQ(readingsOf(readFileBytes(hostDir + "/north.csv")), stored(*store));
    }
    const QString whole = dir.filePath("whole.csv");
    ASSERT_EQ(runCli({"download", "--port", sim.linkPath(), "--output", whole}).exitCode, 0);
    for (const char *host : {"a", "b"}) {
        const QByteArray file = readFileBytes(dir.filePath(host) + "/north.csv");
        EXPECT_GT(file.count('\n'), 20) << host;
        EXPECT_TRUE(readFileBytes(whole).startsWith(file)) << host << ":\n" << file.constData();
    }
}

// A store that refuses the first attempt's transaction once its rows are in the file.
TEST_F(StoreCollect, aRetriedStationsReportCountsWhatEachAttemptAdded)
{
    const QString url = server.newDatabase("retried");
    ASSERT_TRUE(open(url)) << qPrintable(error);
    PGconn *conn = PQconnectdb(url.toUtf8().constData());
    PGresult *made = PQexec(conn, "CREATE FUNCTION refuse_first() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                                  "IF NEW.attempts = 1 THEN RAISE EXCEPTION 'refused for the test'; END IF; "
                                  "RETURN NEW; END $$; CREATE TRIGGER refuse_first BEFORE INSERT ON collections "
                                  "FOR EACH ROW EXECUTE FUNCTION refuse_first()");
    EXPECT_EQ(PQresultStatus(made), PGRES_COMMAND_OK) << PQerrorMessage(conn);
    PQclear(made);
    PQfinish(conn);
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start(dir.path(), {"--records", "12", "--channels", "2"}, "COM1"));
    writeFileBytes(stations, northStation(sim.linkPath(), url));
    const CliRun run = runCli({"collect", "--stations", stations, "--retries", "1", "--retry-pause", "0", "--report", report});
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.errors);
    EXPECT_TRUE(run.errors.contains("readings were not stored")) << qPrintable(run.errors);
    EXPECT_EQ(stationReport(report)["attempts"].toInt(), 2);
    EXPECT_EQ(run.lines.filter(QRegularExpression("^north: ok, 12 new rows, 24 new readings, [0-9.]+ s$")).size(), 1)
        << qPrintable(run.lines.join('\n'));
    const auto store = open(url);
    ASSERT_TRUE(store) << qPrintable(error);
    EXPECT_EQ(readingsOf(readFileBytes(dir.filePath("north.csv"))), stored(*store));
}

// Logs of a London meter across the spring's skipped hour, and one whose clock was set back: counted in the
// report and told. Their UTC times are StationTime's table; a zone reaching the store, ExportE2e's files.
TEST(StoreCollectTime, skippedAndSetBackHoursAreReported)
{
    const auto instants = [](const char *day, QStringList times) {
        QByteArray log;
        for (qsizetype i = 0; i < times.size(); ++i)
            log += QString("%1 %2,1,%3\n%1 %2,2,%4\n").arg(day, times[i]).arg(i + 1).arg(i * 10).toUtf8();
        return log;
    };
    const struct { QByteArray log; int skipped, clashes; } rows[] = {
        {instants("2026-03-29", {"00:45", "01:15", "01:45", "03:15"}), 2, 0},
        {instants("2026-06-01", {"10:00", "10:15", "10:30", "10:15", "10:30", "10:45"}), 0, 4},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.log.constData());
        QTemporaryDir dir;
        writeFileBytes(dir.filePath("log.txt"), row.log);
        MeterSimProcess sim;
        ASSERT_TRUE(sim.start(dir.path(), {"--log-file", dir.filePath("log.txt")}, "COM1"));
        writeFileBytes(dir.filePath("s.ini"), northStation(sim.linkPath(), {}, "timezone = Europe/London\n"));
        const CliRun run = runCli({"collect", "--stations", dir.filePath("s.ini"), "--store", "sqlite:" + dir.filePath("m.db"),
                                   "--report", dir.filePath("r.json")});
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.errors);
        const QJsonObject report = stationReport(dir.filePath("r.json"));
        EXPECT_EQ(report["skippedHourStamps"].toInt(), row.skipped);
        EXPECT_EQ(report["clashes"].toInt(), row.clashes);
        EXPECT_EQ(run.errors.contains("kept in the clashes table"), row.clashes > 0) << qPrintable(run.errors);
        EXPECT_EQ(run.errors.contains("in the hour the clock skips"), row.skipped > 0) << qPrintable(run.errors);
    }
}

// The collector holding the most stations once the first is committed is killed; another takes them in the same run.
TEST(StoreCollectClaim, twelveTcpStationsAreEachCollectedOnceByThreeCollectorsWhenOneIsKilled)
{
    constexpr int kStations = 12;
    QTemporaryDir dir;
    const QString url = server.newDatabase("fleet");
    MeterSimProcess sims[kStations];
    QStringList logged[kStations];
    QByteArray stations = "[store]\nurl = " + url.toUtf8() + "\n";
    for (int i = 0; i < kStations; ++i) {
        // Logs of different lengths, so that some stations are still being collected when the first is committed.
        const QString name = QString("m%1").arg(i), log = dir.filePath(name + ".log");
        writeFileBytes(log, logFile("2026-11-30 01:00", 60 + 15 * i, 100 * i, 60));
        for (const QByteArray &line : readFileBytes(log).trimmed().split('\n'))
            logged[i] << QString::fromLatin1(line).replace(16, 1, ":00|").replace(u',', u'|');
        logged[i].sort();
        ASSERT_TRUE(sims[i].start(dir.path(), {"--tcp-listen", "127.0.0.1:0", "--log-file", log, "--baud", "9600"}, name));
        const QString address = sims[i].lines().filter("ready tcp://").value(0).mid(6);
        ASSERT_FALSE(address.isEmpty());
        stations += QString("[%1]\nport = %2\noutput = %1.csv\n").arg(name, address).toUtf8();
    }
    writeFileBytes(dir.filePath("s.ini"), stations);
    QString error;
    const auto store = openReadingStore({StoreLocation::Kind::Postgres, url}, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    // Each with its own lock folder, as on another host, and a name the server shows beside its claims.
    QProcess collectors[3];
    for (int c = 0; c < 3; ++c)
        startCli(collectors[c], {"collect", "--claim", "--stations", dir.filePath("s.ini")},
                 dir.filePath(QString("host%1").arg(c)), {QString("PGAPPNAME=collector%1").arg(c)});
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000 && runsIn(*store).empty())
        QThread::msleep(5);
    const QStringList holders = claimHolders(url);
    const auto claims = [&](int c) { return holders.count(QString("collector%1").arg(c)); };
    int killed = 0;
    for (int c = 1; c < 3; ++c)
        killed = claims(c) > claims(killed) ? c : killed;
    ASSERT_GT(claims(killed), 0) << "no collector held a station once the first was committed";
    collectors[killed].kill();
    collectors[killed].waitForFinished();
    for (int c = 0; c < 3; ++c) {
        const CliRun run = c == killed ? CliRun{0, {}, {}} : finished(collectors[c]);
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.errors);
    }
    // Each station collected once, stored whole and confirmed once.
    const std::vector<CollectionRow> runs = runsIn(*store);
    for (int i = 0; i < kStations; ++i) {
        const QString name = QString("m%1").arg(i);
        QStringList results;
        for (const CollectionRow &run : runs) {
            if (run.station == name)
                results << run.result;
        }
        EXPECT_EQ(results, QStringList{"ok"}) << qPrintable(name);
        EXPECT_EQ(stored(*store, name), logged[i]) << qPrintable(name);
        // Given the time to read what it printed, a second confirmation would show.
        EXPECT_FALSE(sims[i].waitFor("confirmed", 2, 100)) << qPrintable(name);
        EXPECT_EQ(sims[i].confirmations(), 1) << qPrintable(name);
    }
}

// A station on a dead port: taken by another collector during its 6 s retry pause at once; held elsewhere past
// the claim wait, during that pause or before the first attempt, it is left, the wait shown in its time.
TEST(StoreCollectClaim, aClaimIsLetGoDuringTheRetryPauseAndAStationHeldElsewhereIsWaitedForBoundedly)
{
    QTemporaryDir dir;
    const QString url = server.newDatabase("pause");
    writeFileBytes(dir.filePath("s.ini"), northStation(dir.filePath("no-such-port"), url));
    const auto collector = [&](QProcess &process, const QString &host, const QStringList &options) {
        QDir(dir.path()).mkdir(host);
        startCli(process, QStringList{"collect", "--claim", "--stations", dir.filePath("s.ini"), "--report",
                                      dir.filePath(host + "/r.json")} + options, dir.filePath(host));
    };
    QProcess pausing, during, waiting;
    collector(pausing, "x", {"--retries", "1", "--retry-pause", "6", "--claim-wait", "2"});
    QThread::msleep(1500);
    QElapsedTimer took;
    took.start();
    collector(during, "y", {"--retries", "0"});
    const CliRun taken = finished(during, 20000);
    EXPECT_LT(took.elapsed(), 3500) << "waited for the other collector's pause";
    EXPECT_EQ(taken.exitCode, 6) << qPrintable(taken.errors);
    // Held, as another collector holds it while it collects, when the first one's pause ends and for
    // longer than it waits; then held before the first attempt: asked for again until the wait is over.
    PGconn *holder = PQconnectdb(url.toUtf8().constData());
    PQclear(PQexec(holder, "SELECT pg_advisory_lock(hashtext('ostrand-station'), hashtext('north'))"));
    const CliRun paused = finished(pausing, 20000);
    collector(waiting, "z", {"--claim-wait", "3"});
    const CliRun held = finished(waiting, 20000);
    PQfinish(holder);
    const struct { const char *host; CliRun run; int wait, attempts; } rows[] = {{"x", paused, 2, 1}, {"z", held, 3, 0}};
    for (const auto &row : rows) {
        EXPECT_EQ(row.run.exitCode, 0) << qPrintable(row.run.errors);
        EXPECT_TRUE(row.run.lines.value(0).startsWith("north: skipped, ")) << qPrintable(row.run.lines.join('\n'));
        const QJsonObject report = stationReport(dir.filePath(row.host + QString("/r.json")));
        EXPECT_EQ(report["result"].toString(), "skipped");
        EXPECT_EQ(report["reason"].toString(), QString("held by another collector for %1 s").arg(row.wait));
        EXPECT_EQ(report["attempts"].toInt(), row.attempts);
        EXPECT_GE(report["seconds"].toDouble(), row.wait + 6 * row.attempts);
    }
}

// By the host's clock, an hour ahead, the other collector's commit would look an hour old.
TEST(StoreCollectClaim, collectedSinceTheStartIsToldByTheServersClockNotThisHosts)
{
    QTemporaryDir dir;
    const QString url = server.newDatabase("serverclock");
    QString error;
    const auto store = openReadingStore({StoreLocation::Kind::Postgres, url}, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    // Committed by another collector, a moment after this one will start.
    const QDateTime committed = QDateTime::currentDateTimeUtc().addSecs(60);
    ASSERT_TRUE(store->write({StationRow{"north", "COM1", "UTC", committed, committed, {}},
                              CollectionRow{"north", committed.addSecs(-5), committed, "ok", 0, 1, {}}, {}, {}}, &error))
        << qPrintable(error);
    writeFileBytes(dir.filePath("s.ini"), northStation(dir.filePath("no-such-port"), url));
    QProcess collector;
    startCli(collector, {"collect", "--claim", "--retries", "0", "--stations", dir.filePath("s.ini"), "--report",
                         dir.filePath("r.json")}, dir.path(),
             {"OSTRAND_CLI_NOW=" + QDateTime::currentDateTimeUtc().addSecs(3600).toString(Qt::ISODate)});
    const CliRun run = finished(collector, 20000);
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.errors);
    const QJsonObject report = stationReport(dir.filePath("r.json"));
    EXPECT_EQ(report["result"].toString(), "skipped");
    EXPECT_EQ(report["reason"].toString(), "collected by another collector since this one started");
    EXPECT_EQ(report["attempts"].toInt(), 0);
}

// The store's database reached by a link, a linked folder or its journal: it keeps its readings after every
// refusal (a store that is itself a link is SqliteStoreSetUp's, in reading_store_tests).
TEST(StoreFiles, anExportReportOrOutputOntoTheStoreIsRefusedBeforeAnythingIsWritten)
{
    QTemporaryDir dir;
    const QString db = dir.filePath("flow.db");
    QString error;
    {
        auto store = openReadingStore({StoreLocation::Kind::Sqlite, db}, &error);
        ASSERT_TRUE(store) << qPrintable(error);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        ASSERT_TRUE(store->write({StationRow{"north", "COM1", "UTC", now, {}, {}}, CollectionRow{"north", now, now, "ok", 1, 1, {}},
                                  {{"north", 1, "Flow", "GPM", utcFromText("2026-12-01T00:15:00Z"), "2026-12-01 00:15:00", 1.5}}, {}},
                                 &error)) << qPrintable(error);
    }
    ASSERT_TRUE(QFile::link(db, dir.filePath("link.db")));
    ASSERT_TRUE(QFile::link(dir.path(), dir.filePath("linked")));
    const QString stationsFile = dir.filePath("s.ini");
    const QStringList exportTo{"export", "--store", "sqlite:flow.db", "--station", "north", "--format", "csv", "--output"};
    const QStringList collect{"collect", "--stations", stationsFile, "--store", "sqlite:" + db, "--retries", "0"};
    const struct { QString output; QStringList arguments; int exitCode; QString error; } rows[] = {
        {"north.csv", exportTo + QStringList{"flow.db"}, 3, "--output flow.db is the store's file " + db},
        {"north.csv", exportTo + QStringList{"link.db"}, 3, "--output link.db is the store's file " + db},
        {"north.csv", exportTo + QStringList{"linked/flow.db"}, 3, "--output linked/flow.db is the store's file " + db},
        {"north.csv", exportTo + QStringList{"flow.db-wal"}, 3, "--output flow.db-wal is the store's file " + db + "-wal"},
        {"north.csv", collect + QStringList{"--report", "linked/link.db"}, 3,
         "--report linked/link.db is the store's file " + db},
        {"linked/flow.db", collect, 64, "station 'north' would write " + dir.filePath("linked/flow.db") + " over the store's file " + db},
        {"link.db", collect, 64, "station 'north' would write " + dir.filePath("link.db") + " over the store's file " + db},
    };
    for (const auto &row : rows) {
        writeFileBytes(stationsFile, QString("[north]\nport = /dev/ttyNONE9\noutput = %1\n").arg(row.output).toUtf8());
        const CliRun run = runCli(row.arguments, dir.path());
        EXPECT_EQ(run.exitCode, row.exitCode) << qPrintable(row.arguments.join(' '));
        EXPECT_TRUE(run.errors.contains(row.error)) << qPrintable(run.errors);
        const CliRun kept = runCli({"export", "--store", "sqlite:" + db, "--station", "north", "--format", "iso-csv"});
        EXPECT_EQ(kept.lines.value(2).trimmed(), QString("2026-12-01T00:15:00Z,+00:00,1.5")) << qPrintable(kept.errors);
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("north.csv")));
}

// Every form of a password in a connection text, right and wrong, through every command that takes a store.
TEST(StorePasswords, noCommandPrintsOrWritesTheStorePassword)
{
    QTemporaryDir dir;
    ASSERT_FALSE(server.newDatabase("guarded").isEmpty());
    const QString right = "Sw0rdfish-9271", wrong = "Wr0ngGuess-5531", host = server.socketFolder();
    ASSERT_TRUE(server.addPasswordUser("keeper", right, "guarded")) << qPrintable(server.problem());
    const QString passfile = dir.filePath(right + ".pgpass");
    writeFileBytes(passfile, ("*:*:*:keeper:" + right + "\n").toUtf8());
    QFile::setPermissions(passfile, QFile::ReadOwner | QFile::WriteOwner);
    const QString encodedHost = QString::fromLatin1(QUrl::toPercentEncoding(host));
    const QStringList forms{"postgresql://keeper:%1@" + encodedHost + "/guarded",
                            "postgresql:///guarded?host=" + host + "&user=keeper&password=%1",
                            "host=" + host + " dbname=guarded user=keeper password=%1",
                            "host=" + host + " dbname=guarded user=keeper passfile=" + dir.filePath("%1.pgpass")};
    const QString plain = dir.filePath("s.ini"), inFile = dir.filePath("withstore.ini"), report = dir.filePath("r.json");
    writeFileBytes(plain, northStation("/dev/ttyNONE9"));
    for (const QString &form : forms) {
        for (const QString &password : {right, wrong}) {
            const QString url = form.arg(password);
            writeFileBytes(inFile, northStation("/dev/ttyNONE9", url));
            const QList<QStringList> commands{
                {"collect", "--stations", plain, "--store", url, "--retries", "0", "--report", report},
                {"collect", "--stations", inFile, "--retries", "0", "--report", report},
                {"status", "--stations", plain, "--store", url},
                {"status", "--stations", inFile, "--json"},
                {"export", "--store", url, "--station", "north", "--format", "iso-csv"},
                {"export", "--store", url, "--station", "south", "--format", "influx"},
            };
            for (const QStringList &command : commands) {
                const CliRun run = runCli(command, dir.path());
                const QString written = run.lines.join('\n') + run.errors + readFileBytes(report)
                                        + readFileBytes(dir.filePath("north.csv.history"));
                EXPECT_FALSE(written.contains(right) || written.contains(wrong))
                    << qPrintable(command.join(' ')) << ":\n" << qPrintable(written);
                // Refused, the store is named all the same, and the reason given.
                EXPECT_TRUE(password == right
                            || (run.errors.contains("PostgreSQL database guarded on " + host + " as keeper: no connection")
                                && (run.errors.contains("password authentication failed")
                                    || run.errors.contains("no password supplied"))))
                    << qPrintable(command.join(' ')) << ":\n" << qPrintable(run.errors);
            }
        }
    }
}

// A server that takes the connection and never answers: collect (holding its lock), export and status.
TEST(StoreLimits, aStoreServerThatNeverAnswersIsGivenUpOnWithinItsConnectTimeout)
{
    QTemporaryDir dir;
    SilentServer silent;
    ASSERT_NE(silent.port(), 0);
    const QString url = QString("host=127.0.0.1 port=%1 dbname=flow connect_timeout=2").arg(silent.port());
    const QString said = QString("the store PostgreSQL database flow on 127.0.0.1:%1 did not answer within 2 s (check that "
                                 "the server runs and answers; connect_timeout in the url sets the wait)").arg(silent.port());
    writeFileBytes(dir.filePath("s.ini"), northStation("/dev/ttyNONE9") + "[south]\nport = /dev/ttyNONE8\noutput = south.csv\n");
    const struct { QStringList arguments; int exitCode; } rows[] = {
        {{"collect", "--stations", dir.filePath("s.ini"), "--store", url}, 6},
        {{"export", "--store", url, "--station", "north", "--format", "csv"}, 7},
        {{"status", "--stations", dir.filePath("s.ini"), "--store", url}, 7},
    };
    for (const auto &row : rows) {
        QElapsedTimer took;
        took.start();
        const CliRun run = runCli(row.arguments, dir.path(), 30000);
        EXPECT_EQ(run.exitCode, row.exitCode) << qPrintable(row.arguments.join(' '));
        EXPECT_LT(took.elapsed(), 8000) << qPrintable(row.arguments.join(' '));
        EXPECT_TRUE(run.errors.contains(said)) << qPrintable(run.errors);
    }
}
