#include "postgres_server.h"
#include "store/reading_store.h"
#include "store_kinds.h"

#include <QTemporaryDir>

using namespace ostrand::collect;
using namespace ostrand::testing;

namespace {

// Started before the tests run.
PostgresServer &server = PostgresServer::instance();

class NewestReadings : public ::testing::TestWithParam<StoreLocation::Kind> {};

StationWrite runOf(const QString &station, std::vector<std::pair<int, const char *>> readings)
{
    const QDateTime at = utcFromText("2026-12-07T06:00:00Z");
    StationWrite write{StationRow{station, "COM1", "UTC", at, at, {}},
                       CollectionRow{station, at, at, "ok", 0, 1, {}},
                       {},
                       {}};
    for (const auto &[channel, time] : readings)
        write.readings.push_back({station, channel, "Flow", "l/s", utcFromText(time),
                                  QString(time).left(19).replace('T', ' '), 1});
    return write;
}

} // namespace

// The newest instant over every channel, whichever channel logged it; a station with no readings
// has none.
TEST_P(NewestReadings, eachStationsNewestInstantOverAllItsChannels)
{
    QTemporaryDir dir;
    const StoreLocation location{GetParam(), GetParam() == StoreLocation::Kind::Sqlite
                                                 ? dir.filePath("flow.db")
                                                 : server.newDatabase("newest")};
    QString error;
    auto store = openReadingStore(location, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    ASSERT_TRUE(store->write(runOf("north", {{1, "2026-12-06T10:00:00Z"},
                                             {8, "2026-12-06T11:15:00Z"},
                                             {3, "2026-12-06T09:00:00Z"}}),
                             &error))
        << qPrintable(error);
    ASSERT_TRUE(store->write(runOf("south", {{2, "2026-12-05T00:00:00Z"}}), &error))
        << qPrintable(error);
    ASSERT_TRUE(store->write(runOf("east", {}), &error)) << qPrintable(error);
    const auto newest = store->newestReadings(&error);
    ASSERT_TRUE(newest) << qPrintable(error);
    EXPECT_EQ(newest->size(), 2);
    EXPECT_EQ(utcText(newest->value("north")), "2026-12-06T11:15:00Z");
    EXPECT_EQ(utcText(newest->value("south")), "2026-12-05T00:00:00Z");
    EXPECT_FALSE(newest->contains("east"));
}

INSTANTIATE_TEST_SUITE_P(Stores, NewestReadings, kBothStoreKinds);
