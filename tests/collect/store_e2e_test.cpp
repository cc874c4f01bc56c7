#include "cli_run.h"
#include "collect/grid_readings.h"
#include "collect/reading_store.h"
#include "metersim_process.h"
#include "postgres_server.h"
#include "qt_printers.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

using namespace ostrand::collect;
using namespace ostrand::testing;

namespace {

PostgresServer &server = PostgresServer::instance();

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

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

QJsonObject stationReport(const QString &path)
{
    return QJsonDocument::fromJson(readFileBytes(path))["stations"][0].toObject();
}

class StoreCollect : public ::testing::TestWithParam<StoreLocation::Kind> {};

} // namespace

// A growing log on a slow meter that never takes the confirmation, so the meter never learns of a
// commit: a run killed mid-download, one killed once it has committed, then three more.
TEST_P(StoreCollect, everyReadingOfTheLogIsStoredOnceAcrossKilledRunsAndThreeMore)
{
    QTemporaryDir dir;
    const QString url = GetParam() == StoreLocation::Kind::Sqlite ? "sqlite:flow.db" : server.newDatabase("growing");
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start(dir.path(), {"--records", "120", "--baud", "9600", "--log-every-seconds", "2",
                                       "--delay-ms", "300", "--refuse-function", "0x62:1"}, "COM1"));
    const QString stations = dir.filePath("s.ini"), report = dir.filePath("r.json");
    writeFile(stations, QString("[store]\nurl = %1\n[north]\nport = %2\nreply-timeout = 1000\noutput = north.csv\n"
                                "timezone = Europe/London\n").arg(url, sim.linkPath()).toUtf8());
    QString error;
    const auto store = openReadingStore(*parseStoreUrl(url, dir.path(), &error), &error);
    ASSERT_TRUE(store) << qPrintable(error);
    const auto runsStored = [&] { return store->collections(QDateTime::fromSecsSinceEpoch(0, Qt::UTC), &error).value(); };
    for (const bool committed : {false, true}) {
        QProcess killed;
        killed.start(OSTRAND_CLI, {"collect", "--stations", stations});
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < (committed ? 60000 : 1500) && !(committed && runsStored().size() == 1))
            QThread::msleep(5);
        killed.kill();
        killed.waitForFinished();
        sim.waitFor("ready", 2, 2000);
        // Wholly before its transaction, or wholly after.
        EXPECT_EQ(runsStored().size(), committed ? 1u : 0u);
        EXPECT_EQ(readingsOf({}, store->readings({"north", {}, {}, {}}, &error).value()),
                  readingsOf(committed ? readFileBytes(dir.filePath("north.csv")) : QByteArray()));
    }
    for (int run = 0; run < 3; ++run) {
        const CliRun done = runCli({"collect", "--stations", stations, "--report", report});
        ASSERT_EQ(done.exitCode, 0) << qPrintable(done.errors);
        EXPECT_EQ(stationReport(report)["clashes"].toInt(), 0);
        EXPECT_EQ(stationReport(report)["duplicates"].toInt(), 0);
    }
    const auto readings = store->readings({"north", {}, {}, {}}, &error);
    ASSERT_TRUE(readings) << qPrintable(error);
    EXPECT_GT(readings->size(), 360u);
    EXPECT_EQ(readingsOf({}, *readings), readingsOf(readFileBytes(dir.filePath("north.csv"))));
    EXPECT_EQ(runsStored().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Store, StoreCollect, ::testing::Values(StoreLocation::Kind::Sqlite, StoreLocation::Kind::Postgres),
                         [](const auto &kind) { return kind.param == StoreLocation::Kind::Sqlite ? "SQLite" : "PostgreSQL"; });

// Logs of a London meter around its clock changes, and one whose clock was set back.
TEST(StoreCollectTime, repeatedSkippedAndSetBackHoursAreStoredAndReported)
{
    const auto instants = [](const char *day, QStringList times) {
        QByteArray log;
        for (qsizetype i = 0; i < times.size(); ++i)
            log += QString("%1 %2,1,%3\n%1 %2,2,%4\n").arg(day, times[i]).arg(i + 1).arg(i * 10).toUtf8();
        return log;
    };
    const struct {
        QByteArray log;
        int skipped, clashes;
        QStringList firstChannelUtc;
    } rows[] = {
        {instants("2026-10-25", {"00:45", "01:15", "01:45", "01:15", "01:45", "02:15"}), 0, 0,
         {"2026-10-24T23:45:00Z", "2026-10-25T00:15:00Z", "2026-10-25T00:45:00Z", "2026-10-25T01:15:00Z",
          "2026-10-25T01:45:00Z", "2026-10-25T02:15:00Z"}},
        {instants("2026-03-29", {"00:45", "01:15", "01:45", "03:15"}), 2, 0,
         {"2026-03-29T00:45:00Z", "2026-03-29T01:15:00Z", "2026-03-29T01:45:00Z", "2026-03-29T02:15:00Z"}},
        {instants("2026-06-01", {"10:00", "10:15", "10:30", "10:15", "10:30", "10:45"}), 0, 4,
         {"2026-06-01T09:00:00Z", "2026-06-01T09:15:00Z", "2026-06-01T09:30:00Z", "2026-06-01T09:45:00Z"}},
    };
    for (const auto &row : rows) {
        QTemporaryDir dir;
        writeFile(dir.filePath("log.txt"), row.log);
        MeterSimProcess sim;
        ASSERT_TRUE(sim.start(dir.path(), {"--log-file", dir.filePath("log.txt")}, "COM1"));
        writeFile(dir.filePath("s.ini"), ("[m]\nport = " + sim.linkPath() + "\noutput = m.csv\ntimezone = Europe/London\n").toUtf8());
        const CliRun run = runCli({"collect", "--stations", dir.filePath("s.ini"), "--store", "sqlite:" + dir.filePath("m.db"),
                                   "--report", dir.filePath("r.json")});
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.errors);
        const QJsonObject report = stationReport(dir.filePath("r.json"));
        EXPECT_EQ(report["skippedHourStamps"].toInt(), row.skipped) << row.log.constData();
        EXPECT_EQ(report["clashes"].toInt(), row.clashes) << row.log.constData();
        EXPECT_EQ(run.errors.contains("kept in the clashes table"), row.clashes > 0) << qPrintable(run.errors);
        EXPECT_EQ(run.errors.contains("in the hour the clock skips"), row.skipped > 0) << qPrintable(run.errors);
        QString error;
        const auto store = openReadingStore({StoreLocation::Kind::Sqlite, dir.filePath("m.db")}, &error);
        const auto firstChannel = store ? store->readings({"m", 1, {}, {}}, &error) : std::nullopt;
        ASSERT_TRUE(firstChannel) << qPrintable(error);
        QStringList utc;
        for (const StoredReading &r : *firstChannel)
            utc << utcText(r.timeUtc);
        EXPECT_EQ(utc, row.firstChannelUtc) << row.log.constData();
    }
}

// Three collectors share six stations through one PostgreSQL store; the first is killed mid-run and
// the station it held is taken by another in the same run.
TEST(StoreCollectClaim, eachStationIsCollectedOnceByOneOfSeveralCollectors)
{
    QTemporaryDir dir;
    const QString url = server.newDatabase("fleet");
    MeterSimProcess sims[6];
    QByteArray stations = "[store]\nurl = " + url.toUtf8() + "\n";
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(sims[i].start(dir.path(), {"--records", "200", "--channels", "2", "--baud", "9600"}, QString("m%1").arg(i)));
        stations += QString("[m%1]\nport = %2\noutput = m%1.csv\n").arg(i).arg(sims[i].linkPath()).toUtf8();
    }
    QProcess collectors[3];
    for (int c = 0; c < 3; ++c) {
        // Each host keeps its own files.
        ASSERT_TRUE(QDir(dir.path()).mkdir(QString::number(c)));
        writeFile(dir.filePath(QString("%1/s.ini").arg(c)), stations);
        collectors[c].start(OSTRAND_CLI, {"collect", "--claim", "--stations", dir.filePath(QString("%1/s.ini").arg(c))});
    }
    ASSERT_FALSE(collectors[0].waitForFinished(1500));
    collectors[0].kill();
    collectors[0].waitForFinished();
    for (QProcess &collector : {std::ref(collectors[1]), std::ref(collectors[2])}) {
        ASSERT_TRUE(collector.waitForFinished(120000));
        EXPECT_EQ(collector.exitCode(), 0) << collector.readAllStandardError().constData();
    }
    QString error;
    const auto store = openReadingStore({StoreLocation::Kind::Postgres, url}, &error);
    const auto runs = store ? store->collections(QDateTime::fromSecsSinceEpoch(0, Qt::UTC), &error) : std::nullopt;
    ASSERT_TRUE(runs) << qPrintable(error);
    for (int i = 0; i < 6; ++i) {
        const QString name = QString("m%1").arg(i);
        EXPECT_EQ(std::count_if(runs->begin(), runs->end(), [&](const CollectionRow &r) { return r.station == name; }), 1);
        EXPECT_EQ(store->readings({name, {}, {}, {}}, &error)->size(), 400u) << qPrintable(name);
    }
}
