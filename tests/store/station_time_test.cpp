#include "collect/grid_readings.h"
#include "store/reading_store.h"
#include "store/station_time.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

using namespace ostrand::collect;

// A meter's local stamps, in logging order, to UTC; London's clocks go forward
// on 29 March 2026 at 01:00 and back on 25 October at 02:00.
TEST(StationTime, localStampsBecomeUtcByTheZoneAndTheClock)
{
    const struct {
        const char *zone;
        MeterClock clock;
        const char *previous; // the station's last stored reading; empty: none
        QStringList stamps;
        QStringList utc;
        int skipped;
    } rows[] = {
        // The repeated hour: each 01:15 the first time after the one before.
        {"Europe/London", MeterClock::Local, "",
         {"2026-10-25 00:45", "2026-10-25 01:15", "2026-10-25 01:45", "2026-10-25 01:15", "2026-10-25 01:45", "2026-10-25 02:15"},
         {"2026-10-24T23:45:00Z", "2026-10-25T00:15:00Z", "2026-10-25T00:45:00Z", "2026-10-25T01:15:00Z",
          "2026-10-25T01:45:00Z", "2026-10-25T02:15:00Z"}, 0},
        // The next run goes on from what the last one stored.
        {"Europe/London", MeterClock::Local, "2026-10-25T00:45:00Z", {"2026-10-25 01:15", "2026-10-25 01:45"},
         {"2026-10-25T01:15:00Z", "2026-10-25T01:45:00Z"}, 0},
        // The whole log again: the repeated hour falls where it fell the first time.
        {"Europe/London", MeterClock::Local, "2026-10-25T02:15:00Z", {"2026-10-25 01:15", "2026-10-25 01:45", "2026-10-25 01:15"},
         {"2026-10-25T00:15:00Z", "2026-10-25T00:45:00Z", "2026-10-25T01:15:00Z"}, 0},
        // The skipped hour: at the standard offset, and counted.
        {"Europe/London", MeterClock::Local, "", {"2026-03-29 00:45", "2026-03-29 01:15", "2026-03-29 01:45", "2026-03-29 02:00"},
         {"2026-03-29T00:45:00Z", "2026-03-29T01:15:00Z", "2026-03-29T01:45:00Z", "2026-03-29T01:00:00Z"}, 2},
        {"America/New_York", MeterClock::Local, "", {"2026-01-01 12:00", "2026-07-01 12:00"},
         {"2026-01-01T17:00:00Z", "2026-07-01T16:00:00Z"}, 0},
        // A meter kept on standard time: one offset all year, no hour skipped or repeated.
        {"America/New_York", MeterClock::Standard, "", {"2026-01-01 12:00", "2026-07-01 12:00", "2026-03-08 02:30", "2026-11-01 01:30"},
         {"2026-01-01T17:00:00Z", "2026-07-01T17:00:00Z", "2026-03-08T07:30:00Z", "2026-11-01T06:30:00Z"}, 0},
        {"Asia/Kolkata", MeterClock::Local, "", {"2026-06-01 00:00"}, {"2026-05-31T18:30:00Z"}, 0},
    };
    for (const auto &row : rows) {
        StationTime time(QTimeZone(row.zone), row.clock,
                         *row.previous ? std::optional<QDateTime>(utcFromText(row.previous)) : std::nullopt);
        QStringList got;
        for (const QString &stamp : row.stamps)
            got << utcText(time.toUtc(QDateTime::fromString(stamp, "yyyy-MM-dd HH:mm")));
        EXPECT_EQ(got, row.utc) << row.zone << " " << qPrintable(row.stamps.join(", "));
        EXPECT_EQ(time.skippedHourStamps(), row.skipped) << qPrintable(row.stamps.join(", "));
    }
}

// The grid's stamps as the download writes them, the midnight rule already applied.
TEST(StationTime, gridStampsAreReadBack)
{
    const std::pair<const char *, const char *> rows[] = {
        {"3/15/2004 2:30:00 PM", "2004-03-15 14:30:00"}, {"4/1/2004", "2004-04-01 00:00:00"},
        {"12/31/2026 12:05:00 AM", "2026-12-31 00:05:00"}, {"1/2/2026 12:45:00 PM", "2026-01-02 12:45:00"},
        {"2/30/2026 1:00:00 AM", ""}, {"3/15/2004 14:30:00", ""}, {"", ""}, {"3/15/2004 2:30:00 XM", ""},
    };
    for (const auto &[text, local] : rows) {
        const auto time = gridStampTime(text);
        EXPECT_EQ(time ? time->toString("yyyy-MM-dd HH:mm:ss") : QString(), local) << text;
    }
}
