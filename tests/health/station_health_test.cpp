#include "store/time_text.h"
#include "cumulative/collection_history.h"
#include "health/health_sources.h"
#include "health/station_health.h"
#include "file_bytes.h"

#include <QJsonObject>
#include <QJsonDocument>
#include <QJsonArray>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand::collect;
using ostrand::testing::readFileBytes;
using ostrand::testing::writeFileBytes;

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
    std::vector<OutboxBacklog> backlog;
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

    std::optional<std::vector<OutboxBacklog>> outboxBacklog(QString *error) override { return answer(backlog, error); }

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

struct StateCase {
    const char *name;
    qint64 lastOkAgo;      // -1: never
    qint64 lastAttemptAgo; // -1: never
    qint64 intervalSeconds;
    StationState state;
    const char *lastError = "";
};

// Each state's edges: Late past one and a half intervals, Stale past the limit, Failing
// when the last attempt failed, the worst of them winning.
TEST(StationHealth, theStateFollowsTheTableAtEachEdge)
{
    const qint64 interval = 4 * kHour; // late after 6 h
    const std::vector<StateCase> cases = {
        {"never collected nor tried", -1, -1, interval, StationState::Stale},
        {"never collected, tried and failed", -1, kHour, interval, StationState::Stale},
        {"collected just now", 0, 0, interval, StationState::Ok},
        {"exactly one and a half intervals", 6 * kHour, 6 * kHour, interval, StationState::Ok},
        {"a second past one and a half intervals", 6 * kHour + 1, 6 * kHour + 1, interval, StationState::Late},
        {"failed a minute after a fresh success", kHour, kHour - 60, interval, StationState::Failing},
        {"failing and late", 7 * kHour, kHour, interval, StationState::Failing},
        {"failed in the second of a success", kHour, kHour, interval, StationState::Failing, "no reply"},
        {"exactly at the stale limit", kStaleAfter, kStaleAfter, 24 * kHour, StationState::Ok},
        {"a second past the stale limit", kStaleAfter + 1, kStaleAfter + 1, 24 * kHour, StationState::Stale},
        {"failing past the stale limit", kStaleAfter + 1, kHour, 24 * kHour, StationState::Stale},
        {"late at the stale limit", kStaleAfter, kStaleAfter, kHour, StationState::Late},
        {"no interval: never late", 20 * kHour, 20 * kHour, 0, StationState::Ok},
    };
    for (const StateCase &c : cases) {
        SCOPED_TRACE(c.name);
        StationRow row{c.name, {}, {}, {}, {}, QString::fromLatin1(c.lastError)};
        if (c.lastOkAgo >= 0)
            row.lastOkUtc = kNow.addSecs(-c.lastOkAgo);
        if (c.lastAttemptAgo >= 0)
            row.lastAttemptUtc = kNow.addSecs(-c.lastAttemptAgo);
        StationHealth health = stationHealth({row}, {}, kNow, kStaleAfter).at(0);
        setInterval(health, c.intervalSeconds * 1000);
        EXPECT_EQ(stateName(health.state), stateName(c.state));
        EXPECT_EQ(health.stale, c.state == StationState::Stale);
        EXPECT_TRUE(healthLine(health).startsWith(QString(c.name) + ": " + stateName(c.state) + ", "))
            << qPrintable(healthLine(health));
    }
}

// Every station takes an interval; without one a dialled station's is a day, a calling one's an hour.
TEST(StationHealth, eachStationIsJudgedByItsOwnIntervalOrItsKindsDefault)
{
    const QByteArray text = "[quarter]\nport = COM1\noutput = q.csv\ninterval = 15 min\n"
                            "[daily]\nport = COM2\noutput = d.csv\n"
                            "[caller]\ncall-in = c-1\noutput = c.csv\n"
                            "[every-connect]\ncall-in = e-1\noutput = e.csv\ninterval = 0\n";
    const StationsFile file = parseStations(text, "stations.ini", QDir::tempPath());
    ASSERT_EQ(file.error, "");
    MemoryStore store;
    for (const Station &s : file.stations)
        store.stationRows.push_back({s.name, {}, {}, kNow.addSecs(-2 * kHour), kNow.addSecs(-2 * kHour), {}});
    QString error;
    const auto health = healthFromStore(store, file.stations, kNow, kStaleAfter, &error);
    ASSERT_TRUE(health) << qPrintable(error);
    const std::vector<std::pair<qint64, QString>> expected{
        {15 * 60, "Late"}, {24 * kHour, "OK"}, {kHour, "Late"}, {0, "OK"}};
    ASSERT_EQ(health->size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(qPrintable((*health)[i].name));
        EXPECT_EQ((*health)[i].intervalMs, expected[i].first * 1000);
        EXPECT_EQ(stateName((*health)[i].state), expected[i].second);
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

// What waits to be published is said for the station it waits for, in the line and the JSON; a
// station with nothing waiting reads as it did before the outbox was kept.
TEST(StationHealth, theStoreSourceSaysHowManyReadingsWaitToBePublishedAndSinceWhen)
{
    MemoryStore store;
    store.stationRows = {{"a", "COM1", "UTC", kNow, kNow.addSecs(-kHour), {}}, {"b", "COM2", "UTC", kNow, kNow, {}}};
    store.backlog = {{"b", 288, kNow.addSecs(-3 * kHour)}, {"gone", 5, kNow}};
    const std::vector<Station> stations{{"a", 1, {}, {}, false, "a.csv", {}}, {"b", 4, {}, {}, false, "b.csv", {}}};
    QString error;
    const auto health = healthFromStore(store, stations, kNow, kStaleAfter, &error);
    ASSERT_TRUE(health) << qPrintable(error);
    const QString waiting = ", 288 readings wait to be published, since " + utcText(kNow.addSecs(-3 * kHour));
    EXPECT_TRUE(healthLine((*health)[1]).endsWith(waiting)) << qPrintable(healthLine((*health)[1]));
    EXPECT_FALSE(healthLine((*health)[0]).contains("publish")) << qPrintable(healthLine((*health)[0]));
    const QJsonArray json = QJsonDocument::fromJson(healthJson(*health, kNow, kStaleAfter))["stations"].toArray();
    EXPECT_FALSE(json[0].toObject().contains("unpublished"));
    EXPECT_EQ(json[1]["unpublished"].toObject(),
              (QJsonObject{{"readings", 288}, {"since", utcText(kNow.addSecs(-3 * kHour))}}));
}

// A month of history is kept, and the last success before it: here the one of ten days ago.
TEST(StationHealth, theFilesSourceReadsTheHistoryAndTheOutputsLastRow)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("out");
    const QString output = dir.filePath("out/a.csv");
    writeFileBytes(output, "Date / Time,Flow\r\n12/6/2026 11:45:00 PM,1.5\r\n12/7/2026,2\r\n");
    QString error;
    for (const CollectionRow &r : {run("a", 40 * 24 * kHour, "ok", 1), run("a", 35 * 24 * kHour, "failed", 2),
                                   run("a", 27 * kHour, "ok", 1), run("a", kHour, "failed", 3, "No answer")})
        ASSERT_TRUE(recordRun(output, r, &error)) << qPrintable(error);
    const std::vector<CollectionRow> kept = historyRuns(readFileBytes(historyFilePath(output)), "a");
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].startedUtc, kNow.addSecs(-40 * 24 * kHour));
    const std::vector<Station> stations{{"a", 1, {}, {}, false, output, {}}, {"b", 4, {}, {}, false, dir.filePath("out/b.csv"), {}}};
    const std::vector<StationHealth> health = healthFromFiles(stations, kNow, kStaleAfter);
    ASSERT_EQ(health.size(), 2u);
    EXPECT_EQ(health[0].lastOkUtc, kNow.addSecs(-27 * kHour + 60));
    EXPECT_EQ(health[0].lastAttemptUtc, kNow.addSecs(-kHour + 60));
    EXPECT_EQ(health[0].lastReading, "12/7/2026");
    EXPECT_EQ(health[0].attempts, 3);
    EXPECT_TRUE(health[1].stale);
    EXPECT_EQ(health[1].lastReading, "");
}

// 267 MB, here mostly a hole: status still finds the success at its end.
TEST(StationHealth, anOversizedHistoryIsReadFromItsTailAndShrinksOnTheNextRun)
{
    QTemporaryDir dir;
    const QString output = dir.filePath("a.csv");
    const QString path = historyFilePath(output);
    const CollectionRow lastOk = run("a", 2 * kHour, "ok", 1);
    {
        QFile history(path);
        ASSERT_TRUE(history.open(QIODevice::WriteOnly));
        ASSERT_TRUE(history.resize(267LL * 1000 * 1000 - 8 * 1024 * 1024));
        ASSERT_TRUE(history.seek(history.size()));
        history.write(QByteArray(8 * 1024 * 1024 - 4096, '\xff')); // garbage, with no line end
        history.write("\n" + historyWithRun({}, lastOk));
    }
    const std::vector<Station> stations{{"a", 1, {}, {}, false, output, {}}};
    QStringList notes;
    const std::vector<StationHealth> health = healthFromFiles(stations, kNow, kStaleAfter, &notes);
    EXPECT_EQ(health[0].lastOkUtc, lastOk.finishedUtc);
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains(path + " holds ")) << qPrintable(notes[0]);
    EXPECT_TRUE(notes[0].endsWith("only its last 4 MiB were read")) << qPrintable(notes[0]);

    QString error, note;
    ASSERT_TRUE(recordRun(output, run("a", kHour, "failed", 3, "No answer"), &error, &note)) << qPrintable(error);
    EXPECT_EQ(note, notes[0].mid(3));
    EXPECT_LT(QFileInfo(path).size(), 1024);
    const std::vector<CollectionRow> kept = historyRuns(readFileBytes(path), "a");
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].finishedUtc, lastOk.finishedUtc);
    EXPECT_EQ(kept[1].error, "No answer");
    notes.clear();
    healthFromFiles(stations, kNow, kStaleAfter, &notes);
    EXPECT_TRUE(notes.isEmpty()) << qPrintable(notes.join('\n'));
}

// A month of runs every 30 s: the oldest runs go, never the newest success.
TEST(StationHealth, aHistoryIsNeverWrittenLargerThanItIsRead)
{
    QByteArray history;
    for (int i = 0; i < 40000; ++i)
        history += historyWithRun({}, run("a", 20 * 24 * kHour - i * 30, i == 10 ? "ok" : "failed", 1,
                                          QString(40, u'x')));
    const QByteArray written = historyWithRun(history, run("a", 0, "failed", 1, "No answer"));
    EXPECT_LE(written.size(), kHistoryReadBytes);
    const std::vector<CollectionRow> kept = historyRuns(written, "a");
    EXPECT_EQ(kept.front().result, "ok");
    EXPECT_EQ(kept.back().error, "No answer");
    EXPECT_GT(kept.size(), 20000u);
}
