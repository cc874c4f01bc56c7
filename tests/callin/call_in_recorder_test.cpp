#include "callin/call_in_recorder.h"
#include "store/reading_store.h"
#include "store/store_open.h"
#include "virtual_clock.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <mutex>

using namespace ostrand;
using namespace ostrand::callin;
using namespace ostrand::collect;

namespace {

constexpr int kStations = 8;
constexpr int kNewsEach = 200;
const qint64 kStart = QDateTime::fromString("2026-12-07T07:00:00Z", Qt::ISODate).toMSecsSinceEpoch();

Station station(const QTemporaryDir &dir, int i)
{
    Station s;
    s.name = QStringLiteral("s%1").arg(i);
    s.output = dir.filePath(s.name + ".csv");
    s.callIn.emplace();
    return s;
}

// Every station's thread tells its news in order, all at once; the last of each is news n = kNewsEach.
void tellFromEveryStationsThread(CallInRecorder &recorder, const QTemporaryDir &dir)
{
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < kStations; ++i) {
        threads.emplace_back(QThread::create([&, i] {
            const Station s = station(dir, i);
            for (int n = 1; n <= kNewsEach; ++n)
                recorder.note(s, n % 2 == 0, QStringLiteral("192.0.2.%1:%2").arg(i).arg(n), kStart + n * 1000,
                              kStart + n * 1000 + 500);
        }));
        threads.back()->start();
    }
    for (const auto &thread : threads)
        thread->wait();
}

void expectNewestOfEach(const std::vector<CallInState> &states)
{
    ASSERT_EQ(states.size(), size_t(kStations));
    for (int i = 0; i < kStations; ++i) {
        EXPECT_EQ(states[i].station, QStringLiteral("s%1").arg(i));
        EXPECT_TRUE(states[i].connected);
        EXPECT_EQ(states[i].peer, QStringLiteral("192.0.2.%1:%2").arg(i).arg(kNewsEach));
        EXPECT_EQ(states[i].sinceUtc.toMSecsSinceEpoch(), kStart + kNewsEach * 1000);
        EXPECT_EQ(states[i].heardUtc.toSecsSinceEpoch(), (kStart + kNewsEach * 1000 + 500) / 1000);
    }
}

struct Complaints {
    std::mutex mutex;
    QStringList lines;
    int count()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return int(lines.size());
    }
    CallInRecorder::Complaint sink()
    {
        return [this](const QString &line) {
            const std::lock_guard<std::mutex> lock(mutex);
            lines << line;
        };
    }
};

} // namespace

TEST(CallInRecorder, newsFromManyStationThreadsEndAsTheNewestOfEachInTheStore)
{
    QTemporaryDir dir;
    const StoreLocation location{StoreLocation::Kind::Sqlite, dir.filePath("flow.db")};
    VirtualClock clock;
    Complaints complaints;
    {
        CallInRecorder recorder(location, clock, complaints.sink());
        tellFromEveryStationsThread(recorder, dir);
    }
    QString error;
    auto reader = openStoreReader(location, &error);
    ASSERT_TRUE(reader) << qPrintable(error);
    expectNewestOfEach(reader->callInStates(&error).value());
    EXPECT_TRUE(complaints.lines.isEmpty()) << qPrintable(complaints.lines.join('\n'));
}

// A store that cannot be reached is told of once and holds neither a station's thread nor the stop.
TEST(CallInRecorder, aStoreThatFailsIsToldOfOnceAndNeverHoldsTheStationsNorTheStop)
{
    QTemporaryDir dir;
    const StoreLocation location{StoreLocation::Kind::Sqlite, dir.filePath("none/flow.db")};
    VirtualClock clock;
    Complaints complaints;
    QElapsedTimer took;
    {
        CallInRecorder recorder(location, clock, complaints.sink());
        took.start();
        tellFromEveryStationsThread(recorder, dir);
        EXPECT_LT(took.elapsed(), 2000);
        while (took.elapsed() < 5000 && complaints.count() == 0)
            QThread::msleep(10);
        // More news while it fails: not told again, and still never waited for.
        took.restart();
        tellFromEveryStationsThread(recorder, dir);
        EXPECT_LT(took.elapsed(), 2000);
        took.restart();
    }
    EXPECT_LT(took.elapsed(), CallInRecorder::kLastWriteMs + 1000);
    ASSERT_EQ(complaints.lines.size(), 1) << qPrintable(complaints.lines.join('\n'));
    EXPECT_TRUE(complaints.lines[0].startsWith("the call-in lines were not recorded (tried again every 10 s): SQLite "
                                               "database " + location.target))
        << qPrintable(complaints.lines[0]);
    EXPECT_FALSE(QFile::exists(location.target));
}
