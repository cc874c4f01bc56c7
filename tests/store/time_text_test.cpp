#include "store/time_text.h"

#include <gtest/gtest.h>

using namespace ostrand::collect;

// The one stamp text read back, and every other text refused, as the format reader did.
TEST(TimeText, utcTextReadsBackAndAnyOtherTextIsAnInvalidTime)
{
    for (const QDateTime &time : {QDateTime(QDate(2026, 3, 29), QTime(1, 15), Qt::UTC),
                                  QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC),
                                  QDateTime(QDate(1999, 12, 31), QTime(0, 0), Qt::UTC)}) {
        const QDateTime back = utcFromText(utcText(time));
        EXPECT_EQ(back, time);
        EXPECT_EQ(back.timeSpec(), Qt::UTC);
    }
    for (const char *text : {"", "2026-03-29T01:15:00", "2026-03-29 01:15:00Z", "2026-02-30T01:15:00Z",
                             "2026-03-29T24:00:00Z", "2026-13-01T00:00:00Z", "2026-03-29T01:15:0xZ",
                             "2026-03-29T01:15:00+01:00", " 2026-03-29T01:15:00Z"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(utcFromText(QString::fromLatin1(text)).isValid());
    }
}
