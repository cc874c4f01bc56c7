#include "crc16.h"
#include "fault_policy.h"
#include "reference_reader.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace ostrand::sim;
using namespace ostrand::sim::testing;

namespace {

// The meter with faults as the line sees them: what goes out for one request.
struct FaultyMeter {
    explicit FaultyMeter(const QStringList &faults,
                         const QStringList &log = {"--records", "500", "--channels", "3"})
        : built(meterFrom(log)), policy(optionsFrom(faults).faults)
    {
    }
    FaultOutcome send(const QByteArray &frame)
    {
        return policy.apply(built.meter->respond(frame, testNow()));
    }
    FaultOutcome block(int bank, int page, int offset, int words)
    {
        return send(
            request(1, 0x60,
                    QByteArray(1, char(bank)) + char(page) + char(offset) + char(0) + char(words)));
    }
    BuiltMeter built;
    FaultPolicy policy;
};

} // namespace

TEST(Faults, ASilentMeterAnswersNothingButStillActsOnRequests)
{
    FaultyMeter meter({"--silent"});
    EXPECT_TRUE(meter.send(request(1, 0x62)).bytes.isEmpty());
    EXPECT_EQ(meter.built.meter->log().lastDownloadPointer(),
              meter.built.meter->log().endPointer());
    EXPECT_TRUE(meter.send(request(1, 0x63)).bytes.isEmpty());
}

TEST(Faults, ACorruptCrcSpoilsOnlyTheCrcOfEachKthReply)
{
    FaultyMeter every({"--corrupt-crc"});
    const QByteArray clean =
        every.built.meter->respond(request(1, 0x61, QByteArray(5, '\0')), testNow()).bytes;
    const QByteArray sent = every.send(request(1, 0x61, QByteArray(5, '\0'))).bytes;
    EXPECT_FALSE(hasValidCrc(sent));
    EXPECT_EQ(sent.chopped(2), clean.chopped(2)) << "data untouched";

    FaultyMeter third({"--corrupt-crc", "--corrupt-every", "3"});
    QString pattern;
    for (int i = 0; i < 7; ++i)
        pattern += hasValidCrc(third.send(request(1, 0x63)).bytes) ? 'g' : 'X';
    EXPECT_EQ(pattern, QStringLiteral("ggXggXg"));
}

TEST(Faults, ADeadBlockSwallowsEveryReadCoveringItAndNoOther)
{
    FaultyMeter meter({"--dead-block", "8:81:40"});
    EXPECT_TRUE(meter.block(8, 0x81, 0x00, 128).bytes.isEmpty());
    EXPECT_TRUE(meter.block(8, 0x80, 0x80, 128).bytes.isEmpty()) << "a read running into it";
    EXPECT_FALSE(meter.block(8, 0x80, 0x00, 128).bytes.isEmpty());
    EXPECT_FALSE(meter.block(8, 0x81, 0x48, 4).bytes.isEmpty());
    EXPECT_FALSE(meter.send(request(1, 0x63)).bytes.isEmpty());
}

TEST(Faults, DropsTheLineOnceAfterAByteCountOrInTheThirdLogBlockOfADownload)
{
    FaultyMeter meter({"--drop-after", "30"});
    EXPECT_EQ(meter.send(request(1, 0x63)).dropAfter, -1); // 26 bytes
    EXPECT_EQ(meter.send(request(1, 0x63)).dropAfter, 4);
    EXPECT_EQ(meter.send(request(1, 0x63)).dropAfter, -1) << "the line drops once";
    FaultyMeter midDownload({"--drop-mid-download"});
    for (int k = 1; k <= 8; ++k)
        EXPECT_EQ(midDownload.block(0x18, 0x80 + k, 0, 100).dropAfter, -1) << "labels are not log blocks";
    for (int page = 0x80; page < 0x84; ++page)
        EXPECT_EQ(midDownload.block(8, page, 0, 128).dropAfter, -1) << "no download has started";
    midDownload.send(QByteArray::fromHex("0103004C000885DB"));
    EXPECT_EQ(midDownload.block(8, 0x80, 0, 128).dropAfter, -1);
    EXPECT_EQ(midDownload.block(8, 0x81, 0, 128).dropAfter, -1);
    EXPECT_EQ(midDownload.block(8, 0x82, 0, 128).dropAfter, (256 + 9) / 2);
}
