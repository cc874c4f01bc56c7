#include "reference_reader.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace ostrand::sim;
using namespace ostrand::sim::testing;

namespace {

// Every record of `contents` that the log memory can keep, in order, as a reader sees it.
void expectSameRecords(const QVector<DecodedRecord> &got, const QVector<LogRecord> &want,
                       const char *what)
{
    const int kept = std::min<int>(want.size(), CircularLog::kCapacity);
    ASSERT_EQ(got.size(), kept) << what;
    const int skip = want.size() - kept;
    for (int i = 0; i < kept; ++i) {
        const LogRecord &w = want.at(skip + i);
        ASSERT_EQ(got[i].channel, w.channel) << what << " record " << i;
        ASSERT_EQ(got[i].stamp, w.stamp) << what << " record " << i;
        ASSERT_EQ(got[i].value, double(float(w.value))) << what << " record " << i;
    }
}

struct Case {
    const char *what;
    QStringList arguments;
};

} // namespace

TEST(DownloadWalk, ReadsEveryRecordExactlyOnceWhateverTheLogsSizeAndPlace)
{
    const QList<Case> cases = {
        {"one record", {"--records", "1", "--channels", "1", "--start", "2026-12-01 00:15"}},
        {"one page", {"--records", "32", "--channels", "1", "--start", "2026-12-01 00:15"}},
        {"page and one", {"--records", "33", "--channels", "1", "--start", "2026-12-01 00:15"}},
        {"500 x 3", {"--records", "500", "--channels", "3", "--start", "2026-12-01 00:00"}},
        {"across banks", {"--records", "1000", "--channels", "3", "--start", "2025-01-01 00:00"}},
        {"wrapped",
         {"--records", "700", "--channels", "2", "--wrap", "--start", "2024-02-28 12:00"}},
        {"wrapped wide",
         {"--records", "3001", "--channels", "3", "--wrap", "--start", "2020-06-01 00:00"}},
        {"overflowing",
         {"--records", "5000", "--channels", "8", "--start", "2021-03-01 00:00",
          "--interval-minutes", "5"}},
        {"portable",
         {"--records", "77", "--channels", "5", "--portable", "--start", "2026-01-01 08:00"}},
    };
    for (const Case &c : cases) {
        BuiltMeter built = meterFrom(c.arguments);
        const bool portable = c.arguments.contains(QStringLiteral("--portable"));
        const Walk walk = downloadLog(*built.meter, portable, false, testNow());
        EXPECT_EQ(walk.result, 0) << c.what;
        expectSameRecords(walk.records, built.contents.records, c.what);
    }
}

TEST(DownloadWalk, AnEmptyLogReadsAsNoRecords)
{
    BuiltMeter built = meterFrom({"--records", "0"});
    EXPECT_EQ(downloadLog(*built.meter, false, false, testNow()).result, 1);
}

TEST(DownloadWalk, SinceLastTimeReadsEverythingThenNothingThenOnlyWhatWasLoggedSince)
{
    BuiltMeter built =
        meterFrom({"--records", "100", "--channels", "3", "--start", "2026-11-01 00:00"});
    expectSameRecords(downloadLog(*built.meter, false, true, testNow()).records,
                      built.contents.records, "fresh meter: everything");
    built.meter->respond(request(1, 0x62), testNow());
    EXPECT_EQ(downloadLog(*built.meter, false, true, testNow()).result, 1) << "nothing new";
    QVector<LogRecord> added;
    QDateTime stamp = built.contents.lastStamp;
    for (int i = 0; i < 45; ++i) {
        stamp = stamp.addSecs(900);
        const QVector<LogRecord> instant =
            recordsAt(built.contents.channels, stamp, built.contents.logStart);
        for (const LogRecord &record : instant)
            built.meter->log().append(record);
        added += instant;
    }
    const Walk walk = downloadLog(*built.meter, false, true, testNow());
    EXPECT_EQ(walk.result, 0);
    expectSameRecords(walk.records, added, "since last time");

    const Walk whole = downloadLog(*built.meter, false, false, testNow());
    expectSameRecords(whole.records, built.contents.records + added, "whole log after");
}
