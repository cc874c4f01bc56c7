// A year of 15-minute readings on 8 channels (35,040 instants, 280,320
// readings) made UTC from local stamps and stored in one station's
// transaction, into SQLite and into a PostgreSQL 15 the program starts for
// itself; then the same year again, every reading a duplicate. Run by hand:
//   BUILD/bench/store_bench

#include "store/reading_store.h"
#include "store/station_time.h"
#include "postgres_process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

using namespace ostrand::collect;

namespace {

constexpr int kInstants = 365 * 96;
constexpr int kChannels = 8;

// Local stamps across both of the year's clock changes, made UTC as collect does.
std::vector<StoredReading> yearOfReadings(double *convertMs)
{
    QElapsedTimer timer;
    timer.start();
    std::vector<StoredReading> readings;
    readings.reserve(size_t(kInstants) * kChannels);
    StationTime time(QTimeZone("Europe/London"), MeterClock::Local, std::nullopt);
    // The meter's stamps: wall-clock time, an hour skipped in spring and one repeated in autumn.
    const QTimeZone zone("Europe/London");
    std::vector<QDateTime> stamps;
    for (int i = 0; i < kInstants; ++i) {
        const QDateTime wall = QDateTime(QDate(2026, 1, 1), QTime(0, 15), Qt::UTC).addSecs(qint64(i) * 900).toTimeZone(zone);
        stamps.push_back(QDateTime(wall.date(), wall.time(), Qt::UTC));
    }
    QStringList labels;
    for (int k = 1; k <= kChannels; ++k)
        labels << QStringLiteral("Flow %1 (GPM)").arg(k);
    timer.start();
    for (int i = 0; i < kInstants; ++i) {
        const QDateTime utc = time.toUtc(stamps[size_t(i)]);
        const QString localText = stamps[size_t(i)].toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        for (int k = 1; k <= kChannels; ++k)
            readings.push_back({QStringLiteral("north pump"), k, labels[k - 1], QStringLiteral("GPM"), utc, localText,
                                i * 0.25 + k / 3.0});
    }
    *convertMs = timer.nsecsElapsed() / 1e6;
    return readings;
}

StationWrite runOf(std::vector<StoredReading> readings)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return {StationRow{QStringLiteral("north pump"), QStringLiteral("COM1"), QStringLiteral("Europe/London"), now,
                       now, {}},
            CollectionRow{QStringLiteral("north pump"), now, now, QStringLiteral("ok"), 0, 1, {}},
            std::move(readings), QStringLiteral("08 80 08 1111111111111111")};
}

bool measure(const char *name, const StoreLocation &location, const std::vector<StoredReading> &readings)
{
    QString error;
    const auto store = openReadingStore(location, &error);
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    for (const char *pass : {"new", "again"}) {
        QElapsedTimer timer;
        timer.start();
        const auto written = store->write(runOf(readings), &error);
        const double ms = timer.nsecsElapsed() / 1e6;
        if (!written) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
        std::printf("%-10s %-5s %7zu readings: %8.0f ms (%d inserted, %d duplicates, %zu clashes)\n", name, pass,
                    readings.size(), ms, written->inserted, written->duplicates, written->clashes.size());
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    double convertMs = 0;
    const std::vector<StoredReading> readings = yearOfReadings(&convertMs);
    std::printf("local to UTC for %d instants: %.0f ms\n", kInstants, convertMs);
    QTemporaryDir dir;
    ostrand::testing::PostgresProcess postgres;
    if (!postgres.start()) {
        std::fprintf(stderr, "PostgreSQL could not be started: %s\n", qPrintable(postgres.problem()));
        return 1;
    }
    const bool ok = measure("SQLite", {StoreLocation::Kind::Sqlite, dir.filePath(QStringLiteral("flow.db"))}, readings)
                    && measure("PostgreSQL", {StoreLocation::Kind::Postgres, postgres.newDatabase(QStringLiteral("bench"))},
                               readings);
    return ok ? 0 : 1;
}
