#include "publish/mqtt_payloads.h"
#include "publish/mqtt_publisher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <limits>

using namespace ostrand::collect;
using namespace ostrand::publish;

namespace {

std::vector<OutboxEntry> entries(int count, const QString &label = QStringLiteral("Flow"))
{
    std::vector<OutboxEntry> out;
    const QDateTime start(QDate(2026, 11, 1), QTime(0, 0), Qt::UTC);
    for (int i = 0; i < count; ++i)
        out.push_back({100 + i, {"north", 1 + i % 3, label, "l/s", start.addSecs(i * 300), {}, i * 0.1}, start});
    return out;
}

} // namespace

// Every reading once, in order, in messages that each parse and stay within the limit.
TEST(ReadingsMessages, splitWhereTheNextReadingWouldPassTheLimitAndCarryEveryReadingOnce)
{
    for (const int limit : {300, 1000, 4096, kMaxReadingsPayload}) {
        SCOPED_TRACE(limit);
        const auto waiting = entries(5000);
        const auto messages = readingsMessages("north", waiting, limit);
        std::vector<qint64> ids;
        int readings = 0;
        for (const ReadingsMessage &message : messages) {
            EXPECT_LE(message.payload.size(), limit);
            QJsonParseError error;
            const QJsonObject object = QJsonDocument::fromJson(message.payload, &error).object();
            ASSERT_EQ(error.error, QJsonParseError::NoError) << message.payload.left(200).constData();
            EXPECT_EQ(object.value(u"station").toString(), "north");
            const QJsonArray array = object.value(u"readings").toArray();
            ASSERT_EQ(size_t(array.size()), message.outboxIds.size());
            for (const QJsonValue &value : array) {
                const StoredReading &expected = waiting[size_t(readings++)].reading;
                EXPECT_EQ(value.toObject().value(u"time").toString(), expected.timeUtc.toString(Qt::ISODate));
                EXPECT_EQ(value.toObject().value(u"value").toDouble(), expected.value);
            }
            ids.insert(ids.end(), message.outboxIds.begin(), message.outboxIds.end());
        }
        EXPECT_EQ(readings, 5000);
        ASSERT_EQ(ids.size(), waiting.size());
        for (size_t i = 0; i < ids.size(); ++i)
            EXPECT_EQ(ids[i], waiting[i].id);
        if (limit == kMaxReadingsPayload) {
            EXPECT_EQ(messages.size(), 2u) << "5000 readings of about 90 bytes fill two messages";
        }
    }
}

TEST(ReadingsMessages, labelsAreEscapedAndValuesThatAreNoNumberAreNull)
{
    auto waiting = entries(2, QStringLiteral("Level \"A\"\\\n\x01"));
    waiting[0].reading.value = std::numeric_limits<double>::quiet_NaN();
    waiting[1].reading.value = 0.1 + 0.2; // the shortest text that reads back as the same double
    const auto messages = readingsMessages("we\"ir", waiting, kMaxReadingsPayload);
    ASSERT_EQ(messages.size(), 1u);
    const QJsonObject object = QJsonDocument::fromJson(messages[0].payload).object();
    EXPECT_EQ(object.value(u"station").toString(), "we\"ir");
    const QJsonArray readings = object.value(u"readings").toArray();
    EXPECT_EQ(readings[0].toObject().value(u"label").toString(), QStringLiteral("Level \"A\"\\\n\x01"));
    EXPECT_TRUE(readings[0].toObject().value(u"value").isNull());
    EXPECT_EQ(readings[1].toObject().value(u"value").toDouble(), 0.1 + 0.2);
    EXPECT_TRUE(messages[0].payload.contains("0.30000000000000004"));
}
