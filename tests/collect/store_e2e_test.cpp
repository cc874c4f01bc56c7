#include "cli_run.h"
#include "collect/grid_readings.h"
#include "collect/reading_store.h"
#include "metersim_process.h"
#include "postgres_server.h"
#include "qt_printers.h"

#include <QJsonDocument>
#include <QJsonObject>

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

QJsonObject stationReport(const QString &reportPath)
{
    return QJsonDocument::fromJson(readFileBytes(reportPath))["stations"][0].toObject();
}

class StoreCollect : public ::testing::TestWithParam<StoreLocation::Kind> {};

} // namespace

// A growing log on a meter that never takes the confirmation (each run ends between the commit and
// the meter's confirmation), a run killed mid-download, then three more.
TEST_P(StoreCollect, everyReadingOfTheLogIsStoredOnceAcrossAKilledRunAndThreeMore)
{
    ASSERT_TRUE(server.running()) << qPrintable(server.problem());
    QTemporaryDir dir;
    const QString url = GetParam() == StoreLocation::Kind::Sqlite ? "sqlite:flow.db"
                                                                  : server.newDatabase("growing");
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start(dir.path(), {"--records", "200", "--baud", "4800", "--log-every-seconds", "2",
                                       "--refuse-function", "0x62:1"}, "COM1"));
    const QString stations = dir.filePath("s.ini"), report = dir.filePath("r.json");
    writeFile(stations, QString("[store]\nurl = %1\n[north]\nport = %2\noutput = north.csv\ntimezone = Europe/London\n")
                            .arg(url, sim.linkPath()).toUtf8());
    QString error;
    const auto store = openReadingStore(*parseStoreUrl(url, dir.path(), &error), &error);
    ASSERT_TRUE(store) << qPrintable(error);

    QProcess killed;
    killed.start(OSTRAND_CLI, {"collect", "--stations", stations});
    ASSERT_FALSE(killed.waitForFinished(1500));
    killed.kill();
    killed.waitForFinished();
    sim.waitFor("ready", 2, 2000);
    EXPECT_EQ(store->readings({"north", {}, {}, {}}, &error)->size(), 0u);
    EXPECT_EQ(store->collections(QDateTime::fromSecsSinceEpoch(0, Qt::UTC), &error)->size(), 0u);

    int stored = 0;
    for (int run = 0; run < 3; ++run) {
        const CliRun done = runCli({"collect", "--stations", stations, "--report", report});
        ASSERT_EQ(done.exitCode, 0) << qPrintable(done.errors);
        const QJsonObject station = stationReport(report);
        EXPECT_EQ(station["clashes"].toInt(), 0);
        EXPECT_EQ(station["duplicates"].toInt(), 0);
        EXPECT_EQ(station["newReadings"].toInt(), station["newRows"].toInt() * 3);
        stored += station["newReadings"].toInt();
    }
    const auto readings = store->readings({"north", {}, {}, {}}, &error);
    ASSERT_TRUE(readings) << qPrintable(error);
    EXPECT_GT(readings->size(), 600u);
    EXPECT_EQ(int(readings->size()), stored);
    EXPECT_EQ(readingsOf({}, *readings), readingsOf(readFileBytes(dir.filePath("north.csv"))));
    const auto runs = store->collections(QDateTime::fromSecsSinceEpoch(0, Qt::UTC), &error);
    ASSERT_TRUE(runs && runs->size() == 3);
    EXPECT_EQ((*runs)[2].result, "ok");
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
