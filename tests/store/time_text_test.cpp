#include "store/time_text.h"

#include <gtest/gtest.h>

using namespace ostrand::collect;

// The store's own text reads back as the instant written, whatever the machine's zone, and nothing
// else reads.
TEST(TimeText, theStoresTextReadsBackExactlyAndAnyOtherTextIsNoTime)
{
    // The machine's spring gap and autumn repeat are no concern of a UTC text.
    qputenv("TZ", "Europe/London");
    for (const char *text : {"2026-03-29T01:30:00Z", "2026-10-25T01:15:00Z", "1999-12-31T23:59:59Z",
                             "2024-02-29T00:00:00Z"}) {
        const QDateTime time = utcFromText(text);
        ASSERT_TRUE(time.isValid()) << text;
        EXPECT_EQ(time.timeSpec(), Qt::UTC) << text;
        EXPECT_EQ(utcText(time), text);
        EXPECT_EQ(time, QDateTime::fromString(text, Qt::ISODate)) << text;
    }
    for (const char *text :
         {"", "2026-03-29T01:30:00", "2026-03-29 01:30:00Z", "2026-02-29T00:00:00Z",
          "2026-03-29T24:00:00Z", "2026-03-29T01:30:60Z", "2026-3-29T01:30:00ZZ",
          "2026-03-29T01:3a:00Z", "2026-03-29T01:30:00+00:00", "２026-03-29T01:30:00Z"})
        EXPECT_FALSE(utcFromText(text).isValid()) << text;
    qunsetenv("TZ");
}
