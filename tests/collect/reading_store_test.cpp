#include "collect/reading_store.h"
#include "postgres_server.h"
#include "store_kinds.h"
#include "qt_printers.h"

#include <QFile>
#include <sqlite3.h>

using namespace ostrand::collect;
using ostrand::testing::PostgresServer;

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

// What went wrong names the database and gives its reason, never a password.
TEST(StoreErrors, aStoreThatCannotBeUsedIsNamedWithItsReason)
{
    QTemporaryDir dir;
    const QString oldFile = dir.filePath("old.db");
    QString error;
    ASSERT_TRUE(openReadingStore({StoreLocation::Kind::Sqlite, oldFile}, &error));
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(oldFile), &db);
    sqlite3_exec(db, "UPDATE schema_version SET version = 9", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const struct { StoreLocation location; QString error; } rows[] = {
        {{StoreLocation::Kind::Sqlite, dir.filePath("none/flow.db")},
         QString("SQLite database %1: it could not be opened (check that its folder %2 exists and may be written): unable to "
                 "open database file").arg(dir.filePath("none/flow.db"), dir.filePath("none"))},
        {{StoreLocation::Kind::Sqlite, oldFile}, "SQLite database " + oldFile + " holds schema version 9, this program writes version 1"},
        {{StoreLocation::Kind::Postgres, "host=/nonexistent dbname=flow user=me password=secret"},
         "PostgreSQL database flow on /nonexistent as me: no connection (check the url, that the server runs and that it "
         "lets this user in): connection to server on socket \"/nonexistent/.s.PGSQL.5432\" failed"},
    };
    for (const auto &row : rows) {
        EXPECT_FALSE(openReadingStore(row.location, &error));
        EXPECT_TRUE(error.contains(row.error) && !error.contains("secret")) << qPrintable(error);
    }
}
