#include "postgres_server.h"
#include "qt_printers.h"
#include "store/postgres/postgres_store.h"
#include "store/reading_store.h"
#include "store/sqlite/sqlite_store.h"
#include "store/store_open.h"
#include "store_kinds.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <libpq-fe.h>
#include <sqlite3.h>

using namespace ostrand::collect;
using ostrand::testing::PostgresServer;

namespace {

PostgresServer &server = PostgresServer::instance();
const QDateTime kRunAt = utcFromText("2026-10-26T06:00:00Z");

// A reading whose meter keeps UTC+1: the local date turns at 23:00 UTC.
StoredReading reading(const char *station, int channel, const QDateTime &utc)
{
    return {station, channel, "Flow", "GPM", utc, utc.addSecs(3600).toString("yyyy-MM-dd HH:mm:ss"),
            1.5};
}

// Readings on `channels` at `start` plus each of `minutes`.
std::vector<StoredReading> readings(const char *station, std::vector<int> channels,
                                    const char *start, std::vector<int> minutes)
{
    std::vector<StoredReading> batch;
    for (int minute : minutes)
        for (int channel : channels)
            batch.push_back(reading(station, channel, utcFromText(start).addSecs(minute * 60)));
    return batch;
}

StationWrite run(std::vector<StoredReading> batch)
{
    const QString station = batch.at(0).station;
    return {StationRow{station, "COM1", "Etc/GMT-1", kRunAt, kRunAt, {}},
            CollectionRow{station, kRunAt.addSecs(-5), kRunAt, "ok", 0, 1, {}},
            std::move(batch),
            {}};
}

QStringList summary(const std::optional<std::vector<DayCount>> &counts)
{
    QStringList lines;
    for (const DayCount &c : counts.value_or(std::vector<DayCount>{}))
        lines << QString("%1 %2 %3 every %4 s")
                     .arg(c.station, c.day.toString(Qt::ISODate))
                     .arg(c.instants)
                     .arg(c.intervalSeconds);
    return lines;
}

class DayCounts : public ::testing::TestWithParam<StoreLocation::Kind> {
protected:
    StoreLocation newStore(const char *name)
    {
        return {GetParam(), GetParam() == StoreLocation::Kind::Sqlite
                                ? dir_.filePath(QString(name) + ".db")
                                : server.newDatabase(name)};
    }
    // The store's own connection for reading, which reads as status and the page do.
    std::unique_ptr<ReadingStore> reader(const StoreLocation &location, QString *error)
    {
        return GetParam() == StoreLocation::Kind::Sqlite
                   ? openSqliteStore(location.target, error, kSqliteWaitMs, StoreUse::Reading)
                   : openPostgresStore(location.target, error, StoreUse::Reading);
    }

    QTemporaryDir dir_;
};

} // namespace

// A store as version 2 left it (this version's tables but the day counts) is read as it is;
// the first collector counts each station's days from the readings already kept.
TEST_P(DayCounts,
       aVersionTwoStoreIsReadAsItIsAndItsDaysAreCountedFromItsReadingsWhenACollectorTakesItUp)
{
    const StoreLocation location = newStore("versiontwo");
    QString error;
    {
        auto store = openReadingStore(location, &error);
        // north: 22:00 to 00:00 UTC, 4 instants on the 25th and 5 on the 26th, on two channels.
        ASSERT_TRUE(store->write(run(readings("north", {1, 2}, "2026-10-25T22:00:00Z",
                                              {0, 15, 30, 45, 60, 75, 90, 105, 120})),
                                 &error));
        ASSERT_TRUE(
            store->write(run(readings("south", {1}, "2026-10-25T23:00:00Z", {0, 5, 10})), &error));
    }
    ASSERT_TRUE(
        rawExec(location, "DROP TABLE station_days; UPDATE schema_version SET version = 2"));
    const QStringList counted{"north 2026-10-25 4 every 0 s", "north 2026-10-26 5 every 0 s",
                              "south 2026-10-26 3 every 0 s"};
    EXPECT_EQ(summary(openStoreReader(location, &error)->dayCounts(QDate(2026, 1, 1), &error)),
              QStringList());
    EXPECT_FALSE(rawExec(location, "SELECT count(*) FROM station_days"))
        << "a reader took the store up";
    ASSERT_TRUE(openReadingStore(location, &error)) << qPrintable(error);
    auto reader = openStoreReader(location, &error);
    ASSERT_TRUE(reader) << qPrintable(error);
    EXPECT_EQ(summary(reader->dayCounts(QDate(2026, 10, 1), &error)), counted) << qPrintable(error);
    EXPECT_EQ(summary(reader->dayCounts(QDate(2026, 10, 26), &error)), counted.mid(1));
}

// Each write adds the day's instants it stored first; a reading already kept, or another
// channel at an instant already kept, adds none.
TEST_P(DayCounts, eachWriteAddsTheDistinctInstantsItStoredFirstAndTheLogInterval)
{
    const StoreLocation location = newStore("counted");
    QString error;
    auto store = openReadingStore(location, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    // Every 15 minutes but one missing at 22:45 UTC: 3 instants on the 25th, 5 on the 26th.
    const auto first =
        readings("north", {1, 2}, "2026-10-25T22:00:00Z", {0, 15, 30, 60, 75, 90, 105, 120});
    auto overlap = readings("north", {1, 2}, "2026-10-25T23:45:00Z", {0, 15, 30, 45});
    overlap.push_back(reading("north", 3, utcFromText("2026-10-25T22:30:00Z")));
    const struct {
        const char *what;
        std::vector<StoredReading> batch;
        int inserted;
        QStringList counts;
    } steps[] = {
        {"the first run",
         first,
         16,
         {"north 2026-10-25 3 every 900 s", "north 2026-10-26 5 every 900 s"}},
        {"the same run again",
         first,
         0,
         {"north 2026-10-25 3 every 900 s", "north 2026-10-26 5 every 900 s"}},
        {"two instants again, two new, a new channel at an old instant",
         overlap,
         5,
         {"north 2026-10-25 3 every 900 s", "north 2026-10-26 7 every 900 s"}},
        {"one instant: the interval cannot be told and is kept",
         readings("north", {1}, "2026-10-26T01:00:00Z", {0}),
         1,
         {"north 2026-10-25 3 every 900 s", "north 2026-10-26 8 every 900 s"}},
        {"one instant on a new day",
         readings("north", {1}, "2026-10-26T23:30:00Z", {0}),
         1,
         {"north 2026-10-25 3 every 900 s", "north 2026-10-26 8 every 900 s",
          "north 2026-10-27 1 every 0 s"}},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.what);
        const auto written = store->write(run(step.batch), &error);
        ASSERT_TRUE(written) << qPrintable(error);
        EXPECT_EQ(written->inserted, step.inserted);
        EXPECT_EQ(summary(store->dayCounts(QDate(2026, 10, 1), &error)), step.counts)
            << qPrintable(error);
    }
}

// A reader's connection cannot write, even through the store's own write, and reads a store
// its collector has closed (SQLite's write-ahead files gone with it); a database with no store
// is refused, not made into one.
TEST_P(DayCounts, aReaderCannotWriteNorMakeAStore)
{
    const StoreLocation location = newStore("readonly");
    QString error;
    ASSERT_TRUE(openReadingStore(location, &error)
                    ->write(run(readings("north", {1}, "2026-10-25T22:00:00Z", {0, 15})), &error));
    EXPECT_FALSE(QFileInfo::exists(location.target + "-wal"));
    auto reader = this->reader(location, &error);
    ASSERT_TRUE(reader) << qPrintable(error);
    EXPECT_EQ(summary(reader->dayCounts(QDate(2026, 10, 1), &error)),
              QStringList({"north 2026-10-25 2 every 900 s"}));
    EXPECT_FALSE(reader->write(run(readings("north", {1}, "2026-10-25T23:00:00Z", {0})), &error));
    EXPECT_TRUE(error.contains("read-only") || error.contains("readonly")) << qPrintable(error);
    EXPECT_FALSE(reader->recordCallInStates(
        {{"north", true, "192.0.2.7:1", kRunAt, kRunAt, kRunAt}}, &error));
    EXPECT_EQ(reader->readings({"north", {}, {}, {}}, &error).value().size(), 2u);

    const StoreLocation empty = newStore("empty");
    if (GetParam() == StoreLocation::Kind::Sqlite) {
        ASSERT_TRUE(QFile(empty.target).open(QIODevice::WriteOnly));
    }
    error.clear();
    EXPECT_FALSE(openStoreReader(empty, &error));
    EXPECT_TRUE(error.contains("holds no readings store yet: run collect with this store first"))
        << qPrintable(error);
    if (GetParam() == StoreLocation::Kind::Sqlite) {
        EXPECT_EQ(QFileInfo(empty.target).size(), 0);
    } else {
        EXPECT_FALSE(rawExec(empty, "SELECT count(*) FROM schema_version"));
    }
}

INSTANTIATE_TEST_SUITE_P(Store, DayCounts, kBothStoreKinds);
