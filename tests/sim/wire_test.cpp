#include "fault_policy.h"
#include "request_framer.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace ostrand::sim;
using namespace ostrand::sim::testing;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

const QStringList kLog{"--records", "500", "--channels", "3", "--start", "2026-12-01 00:00",
                       "--labels", "Inflow,Inflow Tot"};

// "prefix*size" when only the head of a reply is fixed (live values follow it).
void expectReply(const QByteArray &got, const char *want, const std::string &where)
{
    const QList<QByteArray> parts = QByteArray(want).split('*');
    if (parts.size() == 2) {
        EXPECT_EQ(got.left(parts[0].size() / 2).toHex(), parts[0].toLower()) << where;
        EXPECT_EQ(got.size(), parts[1].toInt()) << where;
        EXPECT_TRUE(hasValidCrc(got)) << where;
    } else {
        EXPECT_EQ(got.toHex(), (*want ? framed(want) : QByteArray()).toHex()) << where;
    }
}

} // namespace

TEST(SimCrc, GivesTheCheckValueAndClosesTheExampleFramesButNoFrameWithABitFlipped)
{
    EXPECT_EQ(crc16("123456789"), 0x4B37);
    for (const char *example : {"0103004C000885DB", "016018810000640BB5", "0161000000000003B1",
                                "016281C9", "01634009", "011000D0000102454546A3"})
        EXPECT_TRUE(hasValidCrc(hex(example))) << example;
    const QByteArray good = hex("0103004C000885DB");
    for (int i = 0; i < good.size() * 8; ++i) {
        QByteArray bad = good;
        bad[i / 8] = char(bad[i / 8] ^ (1 << (i % 8)));
        EXPECT_FALSE(hasValidCrc(bad)) << "bit " << i;
    }
}

TEST(SimFramer, CutsRequestsApartJoinsPiecesSkipsNoiseAndForgetsAHalfFrameAfterSilence)
{
    RequestFramer framer(50);
    const auto frames = framer.feed(hex("FF032B0203004C000885E801634009016281"), 0);
    ASSERT_EQ(frames.size(), 2);
    EXPECT_EQ(frames[0], hex("0203004C000885E8")) << "another slave's request, taken whole";
    EXPECT_EQ(frames[1], hex("01634009"));
    EXPECT_EQ(framer.feed(hex("C9"), 30), QList<QByteArray>{hex("016281C9")});
    EXPECT_TRUE(framer.feed(hex("0103004C000885DC") + hex("0103004C"), 40).isEmpty()) << "bad CRC";
    EXPECT_TRUE(framer.feed(hex("000885DB"), 200).isEmpty()) << "too late to complete the half";
    EXPECT_EQ(framer.feed(hex("011000D0000102454546A3"), 210).size(), 1);
}

// Each row: the meter's options, then requests (hex without CRC) and the replies they get, in turn.
TEST(SimReplies, AnswerEachRequestByteForByte)
{
    struct Row {
        const char *what;
        QStringList arguments;
        std::vector<const char *> exchanges; // request, reply, request, reply...
    };
    const std::vector<Row> rows = {
        {"pointers: start, end after whole pages, 1500 used, 31236 free", kLog,
         {"0103004C0008", "010310000880000008AF0044BB800046F40800"}},
        {"the portable packs its pointers one byte earlier", kLog + QStringList{"--portable"},
         {"0103004C0008", "010310088000000" "8AF0044BB800046F4080000"}},
        {"the last download sits before the log until a confirmation moves it to the end", kLog,
         {"01610000000000", "016117BFF8", "0162", "0162", "01610000000000", "01610" "8AF00"}},
        {"channel labels at bytes 65 to 96 of each setup block", kLog,
         {"0160188140 0010", "01601881400020" "496E666C6F77FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
          "0160188440 0010", "01601884400020" "4E6F742055736564FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
          "016018810000 64", "016018810000C8*209"}},
        {"a log block across a bank edge", kLog, {"016008BF800080", "016008BF800100*265"}},
        {"display block and the clock line of the text display", kLog,
         {"0163", "01630014*26",
          "010300360 00A", "010314" "31322F30362F32362031343A3037204944202031"}},
        {"a key is acknowledged; a broadcast key is obeyed silently", kLog,
         {"011000D00001024D4D", "011000D00001", "001000D00001024D4D", ""}},
        {"exceptions outside what the meter has", kLog,
         {"01030040000A", "018302", "010300180000", "018303", "0110004C0001020000", "019002",
          "01600880000000", "01E003", "01600880000081", "01E003"}},
        {"another slave's requests get nothing", kLog + QStringList{"--slave", "7"},
         {"0163", "", "0763", "07630014*26"}},
    };
    for (const Row &row : rows) {
        BuiltMeter built = meterFrom(row.arguments);
        for (std::size_t i = 0; i + 1 < row.exchanges.size(); i += 2) {
            const QByteArray frame = framed(QByteArray(row.exchanges[i]).replace(' ', "").constData());
            expectReply(built.meter->respond(frame, testNow()).bytes, row.exchanges[i + 1],
                        std::string(row.what) + " #" + std::to_string(i / 2));
        }
    }
}

// Each row: fault options, requests in turn, and what each got: g a good reply, X a spoilt
// CRC, - nothing, d a reply after which the line drops.
TEST(SimFaults, SpoilSilenceOrDropExactlyTheRepliesTheyAreFor)
{
    struct Row {
        QStringList faults;
        std::vector<const char *> requests;
        const char *outcomes;
    };
    const char *display = "0163";
    const std::vector<Row> rows = {
        {{"--silent"}, {display, "0162"}, "--"},
        {{"--corrupt-crc", "--corrupt-every", "3"},
         {display, display, display, display, display, display, display}, "ggXggXg"},
        {{"--dead-block", "8:81:40"},
         {"016008810000 80", "016008808000 80", "016008800000 80", "016008814800 04", display},
         "--ggg"},
        {{"--drop-after", "30"}, {display, display, display}, "gdg"},
        {{"--drop-mid-download"},
         {"016018810000 64", "016008800000 80", "0103004C0008", "016008800000 80",
          "016008810000 80", "016008820000 80"},
         "ggggg" "d"},
    };
    for (const Row &row : rows) {
        BuiltMeter built = meterFrom(kLog);
        FaultPolicy policy(optionsFrom(row.faults).faults);
        QString got;
        for (const char *request : row.requests) {
            const FaultOutcome out = policy.apply(built.meter->respond(
                framed(QByteArray(request).replace(' ', "").constData()), testNow()));
            got += out.bytes.isEmpty() ? '-' : out.dropAfter >= 0 ? 'd' : hasValidCrc(out.bytes) ? 'g' : 'X';
        }
        EXPECT_EQ(got, QLatin1String(row.outcomes)) << row.faults.join(' ').toStdString();
    }
}
