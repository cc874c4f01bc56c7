#include "collect/reading_store.h"
#include "postgres_server.h"
#include "qt_printers.h"

#include <QFile>
#include <QTemporaryDir>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <gtest/gtest.h>

using namespace ostrand::collect;
using ostrand::testing::PostgresServer;

namespace {

PostgresServer &server = PostgresServer::instance();

QDateTime utc(const char *text)
{
    return utcFromText(QString::fromLatin1(text));
}

StoredReading reading(int channel, const char *time, double value, const char *station = "north")
{
    return {station, channel, QStringLiteral("Flow (GPM)"), channel == 1 ? QStringLiteral("GPM") : QString(),
            utc(time), QStringLiteral("local %1").arg(time), value};
}

StationWrite run(std::vector<StoredReading> readings, const QString &cursor = {}, const char *station = "north")
{
    const QDateTime at = utc("2026-12-07T06:00:00Z");
    return {StationRow{station, "COM1", "Europe/London", at, at, {}},
            CollectionRow{station, at.addSecs(-5), at, "ok", 0, 1, {}}, std::move(readings), cursor};
}

// Both databases, from one table of cases.
class BothStores : public ::testing::TestWithParam<StoreLocation::Kind> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.running()) << qPrintable(server.problem());
        static int databases = 0;
        location = GetParam() == StoreLocation::Kind::Sqlite
                       ? StoreLocation{GetParam(), dir.filePath("flow.db")}
                       : StoreLocation{GetParam(), server.newDatabase(QStringLiteral("case%1").arg(++databases))};
        QString error;
        store = openReadingStore(location, &error);
        ASSERT_TRUE(store) << qPrintable(error);
    }

    QTemporaryDir dir;
    StoreLocation location;
    std::unique_ptr<ReadingStore> store;
};

std::vector<QString> summary(const std::vector<StoredReading> &readings)
{
    std::vector<QString> lines;
    for (const StoredReading &r : readings)
        lines.push_back(QStringLiteral("%1 %2 %3 %4 '%5' '%6' %7")
                            .arg(r.station).arg(r.channel).arg(utcText(r.timeUtc), r.timeLocal, r.label, r.unit)
                            .arg(r.value, 0, 'g', 15));
    return lines;
}

} // namespace

TEST_P(BothStores, aRunAgainAddsNothingAndAReadingOfAnotherValueIsKeptAsAClash)
{
    const struct {
        std::vector<StoredReading> readings;
        int inserted, duplicates;
        std::vector<QString> clashes;
    } runs[] = {
        {{reading(1, "2026-10-25T00:15:00Z", 1.5), reading(2, "2026-10-25T00:15:00Z", 1e37),
          reading(1, "2026-10-25T01:15:00Z", 0.1)}, 3, 0, {}},
        // The same again: nothing twice, no clash.
        {{reading(1, "2026-10-25T00:15:00Z", 1.5), reading(2, "2026-10-25T00:15:00Z", 1e37)}, 0, 2, {}},
        // A clock set back: the stored value stays, the other goes to clashes; one batch may clash with itself.
        {{reading(1, "2026-10-25T00:15:00Z", 7), reading(3, "2026-10-25T02:00:00Z", -1e-37),
          reading(3, "2026-10-25T02:00:00Z", -1e-37), reading(3, "2026-10-25T02:00:00Z", 4)},
         1, 1,
         {"north 1 2026-10-25T00:15:00Z local 2026-10-25T00:15:00Z 'Flow (GPM)' 'GPM' 7",
          "north 3 2026-10-25T02:00:00Z local 2026-10-25T02:00:00Z 'Flow (GPM)' '' 4"}},
        {{reading(1, "2026-10-25T00:15:00Z", 3, "south")}, 1, 0, {}},
    };
    for (const auto &r : runs) {
        QString error;
        const auto written = store->write(run(r.readings, {}, r.readings[0].station.toUtf8()), &error);
        ASSERT_TRUE(written) << qPrintable(error);
        EXPECT_EQ(written->inserted, r.inserted);
        EXPECT_EQ(written->duplicates, r.duplicates);
        EXPECT_EQ(summary(written->clashes), r.clashes);
    }
    QString error;
    const auto all = store->readings({"north", {}, {}, {}}, &error);
    ASSERT_TRUE(all) << qPrintable(error);
    EXPECT_EQ(summary(*all),
              (std::vector<QString>{"north 1 2026-10-25T00:15:00Z local 2026-10-25T00:15:00Z 'Flow (GPM)' 'GPM' 1.5",
                                    "north 2 2026-10-25T00:15:00Z local 2026-10-25T00:15:00Z 'Flow (GPM)' '' 1e+37",
                                    "north 1 2026-10-25T01:15:00Z local 2026-10-25T01:15:00Z 'Flow (GPM)' 'GPM' 0.1",
                                    "north 3 2026-10-25T02:00:00Z local 2026-10-25T02:00:00Z 'Flow (GPM)' '' -1e-37"}));
    const auto window = store->readings({"north", 1, utc("2026-10-25T00:15:00Z"), utc("2026-10-25T02:00:00Z")}, &error);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->size(), 2u);
    EXPECT_EQ(store->readings({"north", {}, utc("2026-10-25T00:15:01Z"), utc("2026-10-25T02:00:00Z")}, &error)->size(), 1u);
    const auto stations = store->stations(&error);
    ASSERT_TRUE(stations && stations->size() == 2) << qPrintable(error);
    EXPECT_EQ((*stations)[0].name, "north");
    EXPECT_EQ((*stations)[0].lastOkUtc, utc("2026-12-07T06:00:00Z"));
    const auto runsStored = store->collections(utc("2026-12-07T05:59:55Z"), &error);
    ASSERT_TRUE(runsStored && runsStored->size() == 4) << qPrintable(error);
    EXPECT_EQ((*runsStored)[0].newReadings, 3);
    EXPECT_EQ((*runsStored)[2].newReadings, 1);
    EXPECT_EQ(store->collections(utc("2026-12-07T05:59:56Z"), &error)->size(), 0u);
}

// The cursor and the last reading are what the next collector goes on from, whoever it is.
TEST_P(BothStores, theCursorAndTheLastReadingOutliveTheConnection)
{
    QString error;
    ASSERT_TRUE(store->write(run({reading(1, "2026-03-29T00:45:00Z", 1), reading(1, "2026-03-29T01:00:00Z", 2)},
                                 "08 80 08 1111111111111111"), &error)) << qPrintable(error);
    ASSERT_TRUE(store->write(run({}, {}), &error)) << qPrintable(error); // a failed run keeps the cursor
    StationWrite failed = run({});
    failed.station.lastOkUtc.reset();
    failed.station.lastError = "no reply";
    ASSERT_TRUE(store->write(failed, &error));
    store.reset();
    const auto again = openReadingStore(location, &error);
    ASSERT_TRUE(again) << qPrintable(error);
    const auto memory = again->remembered("north", &error);
    ASSERT_TRUE(memory) << qPrintable(error);
    EXPECT_EQ(memory->cursor, "08 80 08 1111111111111111");
    EXPECT_EQ(memory->lastReadingUtc, utc("2026-03-29T01:00:00Z"));
    const auto nothing = again->remembered("south", &error);
    EXPECT_TRUE(nothing && nothing->cursor.isEmpty() && !nothing->lastReadingUtc);
    const auto stations = again->stations(&error);
    ASSERT_TRUE(stations && stations->size() == 1);
    EXPECT_EQ((*stations)[0].lastError, "no reply");
    EXPECT_EQ((*stations)[0].lastOkUtc, utc("2026-12-07T06:00:00Z")); // the last success stays
}

INSTANTIATE_TEST_SUITE_P(Store, BothStores,
                         ::testing::Values(StoreLocation::Kind::Sqlite, StoreLocation::Kind::Postgres),
                         [](const auto &kind) {
                             return kind.param == StoreLocation::Kind::Sqlite ? "SQLite" : "PostgreSQL";
                         });

// What went wrong names the database and gives its reason.
TEST(StoreErrors, aStoreThatCannotBeUsedIsNamedWithItsReason)
{
    ASSERT_TRUE(server.running()) << qPrintable(server.problem());
    QTemporaryDir dir;
    const QString old = server.newDatabase("old");
    {
        QString error;
        ASSERT_TRUE(openReadingStore({StoreLocation::Kind::Postgres, old}, &error)) << qPrintable(error);
        ASSERT_TRUE(openReadingStore({StoreLocation::Kind::Sqlite, dir.filePath("old.db")}, &error));
    }
    for (const char *sql : {"UPDATE schema_version SET version = 9"}) {
        sqlite3 *db = nullptr;
        sqlite3_open(QFile::encodeName(dir.filePath("old.db")).constData(), &db);
        sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        sqlite3_close(db);
        PGconn *conn = PQconnectdb(old.toUtf8());
        PQclear(PQexec(conn, sql));
        PQfinish(conn);
    }
    const struct { StoreLocation location; QString error; } rows[] = {
        {{StoreLocation::Kind::Sqlite, dir.filePath("none/flow.db")},
         "SQLite database " + dir.filePath("none/flow.db") + ": it could not be opened (check that its folder "
             + dir.filePath("none") + " exists and may be written): unable to open database file"},
        {{StoreLocation::Kind::Sqlite, dir.filePath("old.db")},
         "SQLite database " + dir.filePath("old.db") + " holds schema version 9, this program writes version 1"},
        {{StoreLocation::Kind::Postgres, old}, "PostgreSQL database old on /tmp/ostrand-pg-"},
        {{StoreLocation::Kind::Postgres, old}, " holds schema version 9, this program writes version 1"},
        {{StoreLocation::Kind::Postgres, "host=/nonexistent dbname=flow user=me password=secret"},
         "PostgreSQL database flow on /nonexistent as me: no connection (check the url, that the server runs "
         "and that it lets this user in): connection to server on socket \"/nonexistent/.s.PGSQL.5432\" failed"},
    };
    for (const auto &row : rows) {
        QString error;
        EXPECT_FALSE(openReadingStore(row.location, &error));
        EXPECT_TRUE(error.contains(row.error) && !error.contains("secret")) << qPrintable(error);
    }
}
