#include "collect/collection_history.h"
#include "collect/health_sources.h"
#include "collect/station_health.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand::collect;

namespace {

const QDateTime kNow = QDateTime::fromString("2026-12-07T08:00:00Z", Qt::ISODate);
constexpr qint64 kHour = 3600;
constexpr qint64 kStaleAfter = 26 * kHour;

struct RunAgo {
    qint64 startedAgo;
    const char *result;
    int attempts;
};

struct HealthCase {
    const char *name;
    qint64 lastOkAgo; // -1: never
    std::vector<RunAgo> runs;
    bool stale;
    int attempts, failures;
};

// In-memory store for the store source; what it holds is set by the test.
class MemoryStore : public StoreReader {
public:
    std::vector<StationRow> stationRows;
    std::vector<CollectionRow> runs;
    QString failure;

    std::optional<std::vector<StoredReading>> readings(const ReadingQuery &, QString *error) override
    {
        return answer(std::vector<StoredReading>{}, error);
    }
    std::optional<std::vector<StationRow>> stations(QString *error) override { return answer(stationRows, error); }
    std::optional<std::vector<CollectionRow>> collections(const QDateTime &since, QString *error) override
    {
        std::vector<CollectionRow> after;
        std::copy_if(runs.begin(), runs.end(), std::back_inserter(after),
                     [&](const CollectionRow &r) { return r.startedUtc >= since; });
        return answer(after, error);
    }

private:
    template <typename T>
    std::optional<T> answer(const T &value, QString *error)
    {
        if (failure.isEmpty())
            return value;
        *error = failure;
        return std::nullopt;
    }
};

CollectionRow run(const QString &station, qint64 startedAgo, const char *result, int attempts, const QString &error = {})
{
    const QDateTime started = kNow.addSecs(-startedAgo);
    return {station, started, started.addSecs(60), result, 0, attempts, error};
}

} // namespace

// Every case's runs go into one list, so a station that counts another's runs fails too.
TEST(StationHealth, staleStationsAndTheDaysAttemptsFollowTheTable)
{
    const std::vector<HealthCase> cases = {
        {"never collected, failing", -1, {{2 * kHour, "failed", 3}}, true, 3, 3},
        {"fresh after a retry", 5 * kHour, {{5 * kHour, "ok", 2}}, false, 2, 1},
        {"stale, a failure of yesterday not counted", 27 * kHour, {{3 * kHour, "failed", 1}, {25 * kHour, "failed", 3}}, true, 1, 1},
        {"exactly at both limits", kStaleAfter, {{24 * kHour, "ok", 1}}, false, 1, 0},
        {"a second past both limits", kStaleAfter + 1, {{24 * kHour + 1, "ok", 1}}, true, 0, 0},
        {"skipped runs are no attempts", kHour, {{kHour, "skipped", 0}, {kHour, "ok", 1}}, false, 1, 0},
    };
    std::vector<StationRow> stations;
    std::vector<CollectionRow> runs;
    for (const HealthCase &c : cases) {
        StationRow row{c.name, {}, {}, {}, {}, {}};
        if (c.lastOkAgo >= 0)
            row.lastOkUtc = kNow.addSecs(-c.lastOkAgo);
        stations.push_back(row);
        for (const RunAgo &r : c.runs)
            runs.push_back(run(c.name, r.startedAgo, r.result, r.attempts));
    }
    const std::vector<StationHealth> health = stationHealth(stations, runs, kNow, kStaleAfter);
    ASSERT_EQ(health.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(health[i].name, cases[i].name);
        EXPECT_EQ(health[i].stale, cases[i].stale);
        EXPECT_EQ(health[i].attempts, cases[i].attempts);
        EXPECT_EQ(health[i].failures, cases[i].failures);
        EXPECT_EQ(health[i].ageSeconds, std::max<qint64>(cases[i].lastOkAgo, 0));
    }
}

TEST(StationHealth, theStoreSourceNamesEveryStationOfTheFileAndPassesOnItsFailure)
{
    MemoryStore store;
    store.stationRows = {{"a", "COM1", "UTC", {}, kNow.addSecs(-kHour), {}}, {"gone", "COM2", "UTC", {}, kNow, {}}};
    store.runs = {run("a", kHour, "ok", 2), run("a", 30 * kHour, "failed", 5)};
    const std::vector<Station> stations{{"a", 1, {}, {}, false, "a.csv", {}}, {"b", 4, {}, {}, false, "b.csv", {}}};
    QString error;
    const auto health = healthFromStore(store, stations, kNow, kStaleAfter, &error);
    ASSERT_TRUE(health) << qPrintable(error);
    ASSERT_EQ(health->size(), 2u);
    EXPECT_FALSE((*health)[0].stale);
    EXPECT_EQ((*health)[0].failures, 1);
    EXPECT_EQ((*health)[1].name, "b");
    EXPECT_TRUE((*health)[1].stale);
    store.failure = "the database is locked";
    EXPECT_FALSE(healthFromStore(store, stations, kNow, kStaleAfter, &error));
    EXPECT_EQ(error, "the database is locked");
}

// A month of history is kept, and the last success before it: here the one of ten days ago.
TEST(StationHealth, theFilesSourceReadsTheHistoryAndTheOutputsLastRow)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("out");
    const QString output = dir.filePath("out/a.csv");
    QFile csv(output);
    ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
    csv.write("Date / Time,Flow\r\n12/6/2026 11:45:00 PM,1.5\r\n12/7/2026,2\r\n");
    csv.close();
    QString error;
    for (const CollectionRow &r : {run("a", 40 * 24 * kHour, "ok", 1), run("a", 35 * 24 * kHour, "failed", 2),
                                   run("a", 27 * kHour, "ok", 1), run("a", kHour, "failed", 3, "No answer")})
        ASSERT_TRUE(recordRun(output, r, &error)) << qPrintable(error);
    QFile history(historyFilePath(output));
    ASSERT_TRUE(history.open(QIODevice::ReadOnly));
    const std::vector<CollectionRow> kept = historyRuns(history.readAll(), "a");
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].startedUtc, kNow.addSecs(-40 * 24 * kHour));
    const std::vector<Station> stations{{"a", 1, {}, {}, false, output, {}}, {"b", 4, {}, {}, false, dir.filePath("out/b.csv"), {}}};
    const std::vector<StationHealth> health = healthFromFiles(stations, kNow, kStaleAfter);
    ASSERT_EQ(health.size(), 2u);
    EXPECT_EQ(health[0].lastOkUtc, kNow.addSecs(-27 * kHour + 60));
    EXPECT_EQ(health[0].lastAttemptUtc, kNow.addSecs(-kHour + 60));
    EXPECT_EQ(health[0].lastError, "No answer");
    EXPECT_EQ(health[0].lastReading, "12/7/2026");
    EXPECT_EQ(health[0].attempts, 3);
    EXPECT_TRUE(health[0].stale);
    EXPECT_TRUE(health[1].stale);
    EXPECT_EQ(health[1].lastReading, "");
}
