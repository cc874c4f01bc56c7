#include "collect/fleet_collection.h"
#include "collect/unpublished_report.h"
#include "store/reading_store.h"
#include "store/store_open.h"
#include "postgres_server.h"
#include "store_kinds.h"
#include "qt_printers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <libpq-fe.h>
#include <sqlite3.h>

using namespace ostrand::collect;
using ostrand::testing::PostgresServer;

namespace {

PostgresServer &server = PostgresServer::instance();
const QDateTime kRunAt = utcFromText("2026-10-26T06:00:00Z");

// Each channel's value tells its instant apart: a join on the wrong reading shows.
std::vector<StoredReading> readings(const char *station, std::vector<int> channels, const char *start,
                                    std::vector<int> minutes)
{
    std::vector<StoredReading> batch;
    for (int minute : minutes)
        for (int channel : channels) {
            const QDateTime utc = utcFromText(start).addSecs(minute * 60);
            batch.push_back({station, channel, channel == 1 ? "Flow" : "Level", channel == 1 ? "GPM" : "",
                             utc, utc.toString("yyyy-MM-dd HH:mm:ss"), minute + channel / 10.0});
        }
    return batch;
}

StationWrite run(std::vector<StoredReading> batch, bool publish, const QDateTime &at = kRunAt)
{
    const QString station = batch.at(0).station;
    StationWrite write{StationRow{station, "COM1", "UTC", at, at, {}},
                       CollectionRow{station, at.addSecs(-5), at, "ok", 0, 1, {}}, std::move(batch), {}};
    write.publish = publish;
    return write;
}

// "north 1 02:15 15.1 Flow GPM": what a consumer of the entry would get.
QStringList summary(const std::optional<std::vector<OutboxEntry>> &entries)
{
    QStringList lines;
    for (const OutboxEntry &e : entries.value_or(std::vector<OutboxEntry>{}))
        lines << QString("%1 %2 %3 %4 %5 %6").arg(e.reading.station).arg(e.reading.channel)
                     .arg(e.reading.timeUtc.toString("HH:mm")).arg(e.reading.value).arg(e.reading.label, e.reading.unit)
                     .trimmed();
    return lines;
}

std::vector<qint64> ids(const std::optional<std::vector<OutboxEntry>> &entries)
{
    std::vector<qint64> list;
    for (const OutboxEntry &e : entries.value_or(std::vector<OutboxEntry>{}))
        list.push_back(e.id);
    return list;
}

QStringList backlog(const std::optional<std::vector<OutboxBacklog>> &backlogs)
{
    QStringList lines;
    for (const OutboxBacklog &b : backlogs.value_or(std::vector<OutboxBacklog>{}))
        lines << QString("%1 %2 since %3").arg(b.station).arg(b.readings).arg(utcText(b.oldestQueuedUtc));
    return lines;
}

class Outbox : public ::testing::TestWithParam<StoreLocation::Kind> {
protected:
    StoreLocation newStore(const char *name)
    {
        return {GetParam(), GetParam() == StoreLocation::Kind::Sqlite ? dir_.filePath(QString(name) + ".db")
                                                                      : server.newDatabase(name)};
    }
    bool sqlite() const { return GetParam() == StoreLocation::Kind::Sqlite; }

    QTemporaryDir dir_;
};

} // namespace

// A write queues what it inserted and nothing else: not a duplicate, not a clash, nothing of a
// write that does not publish. Both ways a batch goes in are taken: into an empty span, and
// over readings already held.
TEST_P(Outbox, aWriteQueuesExactlyTheReadingsItInserted)
{
    QString error;
    auto store = openReadingStore(newStore("queued"), &error);
    ASSERT_TRUE(store) << qPrintable(error);
    auto overlap = readings("north", {1, 2}, "2026-10-26T02:00:00Z", {15, 30});
    overlap[1].value = 99; // 02:15 channel 2 again with another value: a clash
    const struct {
        const char *what;
        StationWrite write;
        int inserted;
        QStringList queued; // the whole outbox after the write, oldest first
    } steps[] = {
        {"a first run", run(readings("north", {1, 2}, "2026-10-26T02:00:00Z", {0, 15}), true), 4,
         {"north 1 02:00 0.1 Flow GPM", "north 2 02:00 0.2 Level", "north 1 02:15 15.1 Flow GPM",
          "north 2 02:15 15.2 Level"}},
        {"the same run again", run(readings("north", {1, 2}, "2026-10-26T02:00:00Z", {0, 15}), true), 0, {}},
        {"one instant held, one a clash, one new", run(overlap, true), 2,
         {"north 1 02:30 30.1 Flow GPM", "north 2 02:30 30.2 Level"}},
        {"a run that does not publish", run(readings("north", {1}, "2026-10-26T02:00:00Z", {45}), false), 1, {}},
    };
    QStringList expected;
    for (const auto &step : steps) {
        SCOPED_TRACE(step.what);
        const auto written = store->write(step.write, &error);
        ASSERT_TRUE(written) << qPrintable(error);
        EXPECT_EQ(written->inserted, step.inserted);
        expected += step.queued;
        const auto entries = store->outbox({}, 100, &error);
        EXPECT_EQ(summary(entries), expected) << qPrintable(error);
        for (const OutboxEntry &e : entries.value_or(std::vector<OutboxEntry>{}))
            EXPECT_EQ(e.queuedUtc, kRunAt);
    }
}

// The outbox is written in the readings' transaction: a queue that cannot be written leaves
// the readings unstored too, for the next run to read again.
TEST_P(Outbox, aWriteWhoseQueueFailsStoresNoReading)
{
    const StoreLocation location = newStore("refused");
    QString error;
    auto store = openReadingStore(location, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    ASSERT_TRUE(rawExec(location, sqlite() ? "CREATE TRIGGER refuse BEFORE INSERT ON outbox BEGIN "
                                             "SELECT RAISE(ABORT, 'refused'); END"
                                           : "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                                             "$$ BEGIN RAISE EXCEPTION 'refused'; END $$; "
                                             "CREATE TRIGGER refuse BEFORE INSERT ON outbox FOR EACH ROW "
                                             "EXECUTE FUNCTION refuse()"));
    EXPECT_FALSE(store->write(run(readings("north", {1}, "2026-10-26T02:00:00Z", {0, 15}), true), &error));
    EXPECT_TRUE(error.contains("refused")) << qPrintable(error);
    store = openReadingStore(location, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    EXPECT_EQ(store->readings({"north", {}, {}, {}}, &error).value().size(), 0u);
    EXPECT_EQ(store->stations(&error).value().size(), 0u);
}

// Oldest first across stations, one station's alone, bounded; acknowledged entries leave,
// and ids already gone (another publisher's) are no error. The backlog counts what is left.
TEST_P(Outbox, entriesComeOldestFirstAndLeaveAsAcknowledged)
{
    QString error;
    auto store = openReadingStore(newStore("acked"), &error);
    ASSERT_TRUE(store) << qPrintable(error);
    ASSERT_TRUE(store->write(run(readings("south", {1}, "2026-10-26T03:00:00Z", {0, 15, 30}), true,
                                 kRunAt.addSecs(-600)), &error));
    ASSERT_TRUE(store->write(run(readings("north", {1}, "2026-10-26T01:00:00Z", {0, 15}), true), &error));
    EXPECT_EQ(summary(store->outbox({}, 4, &error)),
              QStringList({"south 1 03:00 0.1 Flow GPM", "south 1 03:15 15.1 Flow GPM", "south 1 03:30 30.1 Flow GPM",
                           "north 1 01:00 0.1 Flow GPM"}));
    EXPECT_EQ(summary(store->outbox("north", 100, &error)),
              QStringList({"north 1 01:00 0.1 Flow GPM", "north 1 01:15 15.1 Flow GPM"}));
    EXPECT_EQ(backlog(store->outboxBacklog(&error)),
              QStringList({"north 2 since 2026-10-26T06:00:00Z", "south 3 since 2026-10-26T05:50:00Z"}));

    const std::vector<qint64> sent = ids(store->outbox("south", 2, &error));
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_TRUE(store->removeFromOutbox(sent, &error)) << qPrintable(error);
    // Another publisher took the same ones and one more first: what is gone stays gone, the rest goes.
    std::vector<qint64> again = sent;
    again.push_back(ids(store->outbox("north", 1, &error)).at(0));
    ASSERT_TRUE(store->removeFromOutbox(again, &error)) << qPrintable(error);
    EXPECT_EQ(summary(store->outbox({}, 100, &error)),
              QStringList({"south 1 03:30 30.1 Flow GPM", "north 1 01:15 15.1 Flow GPM"}));
    EXPECT_EQ(backlog(store->outboxBacklog(&error)),
              QStringList({"north 1 since 2026-10-26T06:00:00Z", "south 1 since 2026-10-26T05:50:00Z"}));
    // Emptied, the numbers go on: an id once sent is never another reading's.
    const std::vector<qint64> rest = ids(store->outbox({}, 100, &error));
    ASSERT_TRUE(store->removeFromOutbox(rest, &error));
    EXPECT_EQ(backlog(store->outboxBacklog(&error)), QStringList());
    ASSERT_TRUE(store->write(run(readings("north", {1}, "2026-10-26T04:00:00Z", {0}), true), &error));
    EXPECT_GT(ids(store->outbox({}, 100, &error)).at(0), *std::max_element(rest.begin(), rest.end()));
}

// A store as version 3 left it is read as it is, nothing waiting; the first collector takes it
// up in its transaction, with an empty outbox: what it held was stored before publishing.
TEST_P(Outbox, aVersionThreeStoreIsReadAsItIsAndTakenUpByACollector)
{
    const StoreLocation location = newStore("versionthree");
    QString error;
    ASSERT_TRUE(openReadingStore(location, &error)->write(
        run(readings("north", {1}, "2026-10-26T01:00:00Z", {0, 15}), true), &error));
    ASSERT_TRUE(rawExec(location, "DROP TABLE outbox; UPDATE schema_version SET version = 3"));
    {
        auto reader = openStoreReader(location, &error);
        ASSERT_TRUE(reader) << qPrintable(error);
        EXPECT_EQ(backlog(reader->outboxBacklog(&error)), QStringList()) << qPrintable(error);
        EXPECT_EQ(reader->readings({"north", {}, {}, {}}, &error).value().size(), 2u);
    }
    EXPECT_FALSE(rawExec(location, "SELECT count(*) FROM outbox")) << "a reader took the store up";

    auto store = openReadingStore(location, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    EXPECT_TRUE(rawExec(location, "SELECT count(*) FROM outbox"));
    EXPECT_EQ(summary(store->outbox({}, 100, &error)), QStringList()) << qPrintable(error);
    ASSERT_TRUE(store->write(run(readings("north", {1}, "2026-10-26T01:00:00Z", {15, 30}), true), &error));
    EXPECT_EQ(summary(store->outbox({}, 100, &error)), QStringList({"north 1 01:30 30.1 Flow GPM"}));
    EXPECT_EQ(backlog(openStoreReader(location, &error)->outboxBacklog(&error)),
              QStringList({"north 1 since 2026-10-26T06:00:00Z"}));
}

INSTANTIATE_TEST_SUITE_P(Store, Outbox, kBothStoreKinds);

// After a run with [publish], collect's report and lines say what is left waiting, for the
// stations with some; the others' entries are as they were.
TEST(OutboxReport, theCollectReportSaysWhatWaitsForTheStationsWithSome)
{
    QTemporaryDir dir;
    const StoreLocation location{StoreLocation::Kind::Sqlite, dir.filePath("flow.db")};
    QString error;
    ASSERT_TRUE(openReadingStore(location, &error)->write(
        run(readings("north", {1, 2}, "2026-10-26T01:00:00Z", {0, 15}), true), &error));
    std::vector<StationReport> reports(2);
    reports[0].name = "north";
    reports[1].name = "south";
    ASSERT_TRUE(addUnpublished(reports, location, &error)) << qPrintable(error);
    EXPECT_EQ(unpublishedLines(reports),
              QStringList({"north: 4 readings wait to be published, since 2026-10-26T06:00:00Z"}));
    const QJsonArray stations = QJsonDocument::fromJson(reportJson(reports, true))["stations"].toArray();
    EXPECT_EQ(stations[0]["unpublished"].toObject(),
              (QJsonObject{{"readings", 4}, {"since", "2026-10-26T06:00:00Z"}}));
    EXPECT_FALSE(stations[1].toObject().contains("unpublished"));
}
