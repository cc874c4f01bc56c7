// The fleet page and /api/stations for 1,000 stations, each with 90 days of
// 15-minute readings as the store keeps them for the page: a day count per
// station and day (some days short, some missing), an attempt an hour over
// the last 24 h (some failed), and the last six hours of readings on 8
// channels for the last reading's time. The 90 days' readings themselves are
// not stored: the page reads the day counts. Run by hand:
//   BUILD/bench/status_page_bench

#include "health/health_sources.h"
#include "store/reading_store.h"
#include "store/time_text.h"
#include "web/fleet_page.h"
#include "web/fleet_rows.h"
#include "web/status_site.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sqlite3.h>
#include <vector>

using namespace ostrand::collect;
using namespace ostrand::web;

namespace {

constexpr int kStations = 1000;
constexpr int kDays = 92;
constexpr int kRuns = 10;
constexpr double kGoalMs = 200;
const QDateTime kNow = utcFromText("2026-12-07T12:00:00Z");

QString nameOf(int i)
{
    return QStringLiteral("station %1").arg(i, 4, 10, QLatin1Char('0'));
}

bool exec(sqlite3 *db, const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "%s: %s\n", sql, message);
    sqlite3_free(message);
    return false;
}

// Station rows, their last runs and readings through the store; the day counts and the day's other
// runs directly.
bool fill(const QString &path)
{
    QString error;
    auto store = openReadingStore({StoreLocation::Kind::Sqlite, path}, &error);
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    const QTimeZone zone("Europe/London");
    for (int i = 0; i < kStations; ++i) {
        const QString name = nameOf(i);
        const bool failing = i % 17 == 0;
        const QDateTime lastOk = kNow.addSecs(failing ? -30 * 3600 : -600 - i);
        std::vector<StoredReading> readings;
        for (int q = 0; q < 24; ++q) {
            const QDateTime at = lastOk.addSecs(-6 * 3600 + q * 900);
            const QString local =
                at.toTimeZone(zone).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            for (int k = 1; k <= 8; ++k)
                readings.push_back({name, k, QStringLiteral("Flow %1 (l/s)").arg(k),
                                    QStringLiteral("l/s"), at, local, q + k * 0.5});
        }
        const StationWrite write{
            StationRow{name, "COM1", "Europe/London", failing ? kNow.addSecs(-300) : lastOk, lastOk,
                       failing ? QStringLiteral("no reply from slave 1") : QString()},
            CollectionRow{name, lastOk.addSecs(-20), lastOk, "ok", int(readings.size()), 1, {}},
            std::move(readings),
            {}};
        if (!store->write(write, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
    }
    store.reset();

    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK || !exec(db, "BEGIN"))
        return false;
    sqlite3_stmt *day = nullptr, *runRow = nullptr;
    sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO station_days VALUES (?, ?, ?, 900)", -1, &day,
                       nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO collections VALUES (?, ?, ?, ?, 0, ?, ?)", -1, &runRow,
                       nullptr);
    if (!day || !runRow) {
        std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
        return false;
    }
    for (int i = 0; i < kStations; ++i) {
        const QByteArray name = nameOf(i).toUtf8();
        for (int d = 1; d <= kDays; ++d) {
            const QByteArray date = kNow.date().addDays(-d).toString(Qt::ISODate).toUtf8();
            // A day in 11 short of a reading, a day in 29 without any.
            if ((i + d) % 29 == 0)
                continue;
            sqlite3_bind_text(day, 1, name.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(day, 2, date.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(day, 3, (i + d) % 11 == 0 ? 95 : 96);
            sqlite3_step(day);
            sqlite3_reset(day);
        }
        for (int h = 1; h < 24; ++h) {
            const QDateTime started = kNow.addSecs(-h * 3600 - 120);
            const bool failed = (i + h) % 13 == 0;
            const QByteArray start = utcText(started).toUtf8(),
                             end = utcText(started.addSecs(40)).toUtf8();
            sqlite3_bind_text(runRow, 1, name.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(runRow, 2, start.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(runRow, 3, end.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(runRow, 4, failed ? "failed" : "ok", -1, SQLITE_STATIC);
            sqlite3_bind_int(runRow, 5, failed ? 3 : 1);
            if (failed)
                sqlite3_bind_text(runRow, 6, "no reply", -1, SQLITE_STATIC);
            else
                sqlite3_bind_null(runRow, 6);
            sqlite3_step(runRow);
            sqlite3_reset(runRow);
        }
    }
    sqlite3_finalize(day);
    sqlite3_finalize(runRow);
    const bool ok = exec(db, "COMMIT");
    sqlite3_close(db);
    return ok;
}

// This thread's processor time: on a machine shared with builds the wall time says more of them
// than of us.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Timing {
    double bestMs = 0, medianMs = 0, worstMs = 0, medianCpuMs = 0;
    qsizetype bytes = 0;
    int status = 0;
};

Timing measure(const SiteSettings &settings, StoreReader &store, const QString &path)
{
    std::vector<double> ms, cpu;
    Timing timing;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        const double cpuFrom = cpuMs();
        const SiteResponse response = answerRequest(settings, {path, {}}, store, kNow);
        cpu.push_back(cpuMs() - cpuFrom);
        ms.push_back(timer.nsecsElapsed() / 1e6);
        timing.bytes = response.body.size();
        timing.status = response.status;
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    timing.medianCpuMs = cpu[cpu.size() / 2];
    timing.medianMs = ms[ms.size() / 2];
    timing.worstMs = ms.back();
    timing.bestMs = ms.front();
    return timing;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath("fleet.db");
    QElapsedTimer timer;
    timer.start();
    if (!fill(path))
        return 1;
    std::printf("store of %d stations filled in %.1f s\n", kStations, timer.elapsed() / 1000.0);

    QString error;
    auto store = openReadingStore({StoreLocation::Kind::Sqlite, path}, &error);
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    SiteSettings settings;
    for (int i = 0; i < kStations; ++i) {
        ostrand::collect::Station station;
        station.name = nameOf(i);
        station.timezone = "Europe/London";
        settings.stations.push_back(station);
    }
    bool met = true;
    for (const char *page : {"/", "/api/stations"}) {
        const Timing t = measure(settings, *store, QString::fromLatin1(page));
        const bool fast = t.medianMs < kGoalMs;
        met = met && fast && t.status == 200;
        std::printf("%-14s %d stations: median %.1f ms (processor %.1f ms), best %.1f ms, worst "
                    "%.1f ms of %d "
                    "(%.1f MB, status %d); goal under %.0f ms: %s\n",
                    page, kStations, t.medianMs, t.medianCpuMs, t.bestMs, t.worstMs, kRuns,
                    t.bytes / 1e6, t.status, kGoalMs, fast ? "met" : "NOT met");
    }
    // Where the time goes, once each.
    const auto step = [](const char *what, const auto &work) {
        QElapsedTimer timer;
        timer.start();
        const double cpuFrom = cpuMs();
        work();
        std::printf("  %-34s %7.1f ms (processor %.1f ms)\n", what, timer.nsecsElapsed() / 1e6,
                    cpuMs() - cpuFrom);
    };
    std::printf("of which:\n");
    step("stations and runs read, health", [&] {
        ostrand::collect::healthFromStore(*store, settings.stations, kNow,
                                          settings.staleAfterSeconds, &error);
    });
    step("a day of runs read", [&] { store->collections(kNow.addSecs(-24 * 3600), &error); });
    step("day counts read", [&] { store->dayCounts(kNow.date().addDays(-kDays), &error); });
    std::optional<std::vector<FleetRow>> rows;
    step("fleet rows (all of the above)", [&] {
        rows = fleetRows(settings.stations, *store, kNow, settings.staleAfterSeconds, &error);
    });
    step("page drawn from the rows", [&] { fleetPage(*rows, kNow); });
    return met ? 0 : 1;
}
