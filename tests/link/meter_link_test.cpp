#include "link_fixture.h"
#include "link/modbus_requests.h"

#include <QList>
#include <cmath>
#include <utility>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

using MeterLinkTest = LinkFixture;

// Registers 76-83 as a meter answers them: 8 registers, 16 data bytes.
const QByteArray kPointerRegisters = QByteArray::fromHex("0880000008BF00F800100FF0001001F4");

QByteArray holdingReply(const QByteArray &data)
{
    QByteArray frame = QByteArray::fromHex("0103");
    frame.append(static_cast<char>(data.size()));
    frame.append(data);
    return appendCrc(frame);
}

QByteArray logBlockReply(const QByteArray &data, int announcedLength = -1, const char *address = "188100")
{
    const int length = announcedLength < 0 ? data.size() : announcedLength;
    QByteArray frame = QByteArray::fromHex(QByteArray("0160") + address);
    frame.append(static_cast<char>(length >> 8));
    frame.append(static_cast<char>(length & 0xFF));
    frame.append(data);
    return appendCrc(frame);
}

QByteArray pattern(int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>((i * 37 + 11) & 0xFF));
    return bytes;
}

} // namespace

TEST_F(MeterLinkTest, holdingRegistersArriveInReplyData)
{
    answerEverySendWith(holdingReply(kPointerRegisters), 20);
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_EQ(link.ReplyData, kPointerRegisters);
    ASSERT_EQ(port.sends().size(), 1u);
    EXPECT_EQ(port.sends()[0].bytes.toHex(), "0103004c000885db");
    EXPECT_EQ(port.discardInputCount(), 1);
    EXPECT_EQ(port.discardOutputCount(), 1);
}

TEST_F(MeterLinkTest, aHoldingReplyOneAndAHalfSecondsLateIsReadAfterOneResend)
{
    bool first = true;
    port.setResponder([&](const QByteArray &, FakeSerialPort &p) {
        if (first)
            p.deliver(holdingReply(kPointerRegisters), 1500);
        first = false;
    });
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_EQ(port.sends().size(), 2u);
    EXPECT_EQ(port.sends()[1].bytes, port.sends()[0].bytes);
    EXPECT_EQ(port.discardInputCount(), 1) << "the resend must not throw the late reply away";
    EXPECT_EQ(link.ReplyData, kPointerRegisters);
}

TEST_F(MeterLinkTest, aSilentMeterIsGivenUpByEachExchangeAfterItsOwnTime)
{
    const struct {
        const char *what;
        std::function<bool()> exchange;
        double seconds;
        int minSends;
        int maxSends;
    } cases[] = {
        {"holding registers", [&] { return link.ReadHoldingRegisters(1, 0, 76, 8); }, 30, 29, 31},
        {"log block", [&] { return link.ReadLogBlock(1, 0x18, 0x81, 0, 100); }, 5, 9, 11},
        {"last-download pointer", [&] { return link.ReadLastDownloadPointer(1); }, 5, 1, 1},
        {"download stored", [&] { return link.ConfirmDownload(1); }, 4, 1, 1},
        {"key write", [&] { return link.WriteRegisters(1, 208, 1, 2); }, 3, 3, 3},
        {"display block", [&] { return link.ReadDisplayBlock(1); }, 1, 1, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        clock.setTimeOfDay(12 * 3600);
        const size_t sendsBefore = port.sends().size();
        const std::int64_t start = clock.monotonicMs();
        EXPECT_FALSE(c.exchange());
        EXPECT_NEAR(secondsSince(start), c.seconds, 0.1);
        const int sends = static_cast<int>(port.sends().size() - sendsBefore);
        EXPECT_GE(sends, c.minSends);
        EXPECT_LE(sends, c.maxSends);
    }
}

TEST_F(MeterLinkTest, waitsThatCrossMidnightEndOnTime)
{
    const struct {
        const char *what;
        std::function<bool()> exchange;
        double seconds;
    } cases[] = {
        {"holding registers", [&] { return link.ReadHoldingRegisters(1, 0, 76, 8); }, 30},
        {"log block", [&] { return link.ReadLogBlock(1, 0x18, 0x81, 0, 100); }, 5},
        {"last-download pointer", [&] { return link.ReadLastDownloadPointer(1); }, 5},
        {"download stored", [&] { return link.ConfirmDownload(1); }, 4},
        {"key write", [&] { return link.WriteRegisters(1, 208, 1, 2); }, 3},
        {"display block", [&] { return link.ReadDisplayBlock(1); }, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        clock.setTimeOfDay(86400 - std::ceil(c.seconds / 2));
        const std::int64_t start = clock.monotonicMs();
        EXPECT_FALSE(c.exchange());
        EXPECT_NEAR(secondsSince(start), c.seconds, 0.1);
    }
}

TEST_F(MeterLinkTest, aCorruptedByteAShortReplyAndAWrongCrcAllFail)
{
    QByteArray corrupted = holdingReply(kPointerRegisters);
    corrupted[5] = static_cast<char>(corrupted[5] ^ 0x01);
    answerEverySendWith(corrupted);
    EXPECT_FALSE(link.ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_EQ(port.sends().size(), 1u) << "a complete reply is read once, right or wrong";

    QByteArray wrongCrc = logBlockReply(pattern(200));
    wrongCrc[wrongCrc.size() - 1] = static_cast<char>(wrongCrc.back() ^ 0x80);
    answerEverySendWith(wrongCrc);
    EXPECT_FALSE(link.ReadLogBlock(1, 0x18, 0x81, 0, 100));
    EXPECT_EQ(link.ReplyData, pattern(200)) << "the data read stays for whoever looks";

    // Only the first request is answered, and only in part.
    bool answered = false;
    port.setResponder([&](const QByteArray &, FakeSerialPort &p) {
        if (!std::exchange(answered, true))
            p.deliver(holdingReply(kPointerRegisters).left(15));
    });
    clock.setTimeOfDay(12 * 3600);
    const std::int64_t start = clock.monotonicMs();
    EXPECT_FALSE(link.ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_NEAR(secondsSince(start), 30, 0.1);
}

TEST_F(MeterLinkTest, aLogBlockIsReadWithItsAnnouncedLength)
{
    const QByteArray data = pattern(200);
    answerEverySendWith(logBlockReply(data), 30);
    ASSERT_TRUE(link.ReadLogBlock(1, 0x18, 0x81, 0x00, 100));
    EXPECT_EQ(link.ReplyData, data);
    ASSERT_EQ(port.sends().size(), 1u);
    EXPECT_EQ(port.sends()[0].bytes.toHex(), "016018810000640bb5");
}

TEST_F(MeterLinkTest, aLengthThatPromisesMoreThanArrivesFailsTwoSecondsAfterTheLastByte)
{
    // Enough bytes for the wait to end, but the length field asks for 40 more.
    const QByteArray reply = logBlockReply(pattern(200), 240);
    answerEverySendWith(reply);
    ASSERT_FALSE(link.ReadLogBlock(1, 0x18, 0x81, 0x00, 100));
    const std::int64_t lastByte = port.sends().back().atMs;
    EXPECT_NEAR(secondsSince(lastByte), 2.0, 0.6);
    EXPECT_EQ(port.sends().size(), 1u);
}

TEST_F(MeterLinkTest, aLongBlockAtTwelveHundredBaudIsNotCutOffByAResend)
{
    shared.BaudRateText = QStringLiteral("1200");
    const QByteArray data = pattern(256);
    answerEverySendWith(logBlockReply(data, -1, "088000"), 40, FakeSerialPort::bytesPerSecondAt(1200));
    const std::int64_t start = clock.monotonicMs();
    ASSERT_TRUE(link.ReadLogBlock(1, 0x08, 0x80, 0x00, 128));
    EXPECT_EQ(link.ReplyData, data);
    EXPECT_EQ(port.sends().size(), 1u);
    EXPECT_GT(secondsSince(start), 2.2) << "265 bytes take 2.2 s at 1200 baud";
}

TEST_F(MeterLinkTest, aSlowReplyThatStallsIsStillResentAndASilentSlowLineGivesUpLater)
{
    shared.BaudRateText = QStringLiteral("1200");
    int sendCount = 0;
    port.setResponder([&](const QByteArray &, FakeSerialPort &p) {
        // The first reply breaks off half way; the resend is answered in full.
        const QByteArray reply = logBlockReply(pattern(256), -1, "088000");
        p.deliver(++sendCount == 1 ? reply.left(100) : reply, 10, FakeSerialPort::bytesPerSecondAt(1200));
    });
    ASSERT_TRUE(link.ReadLogBlock(1, 0x08, 0x80, 0x00, 128));
    EXPECT_EQ(sendCount, 2);
    EXPECT_EQ(link.ReplyData, pattern(256));

    port.setResponder(nullptr);
    clock.setTimeOfDay(12 * 3600);
    const std::int64_t start = clock.monotonicMs();
    EXPECT_FALSE(link.ReadLogBlock(1, 0x08, 0x80, 0x00, 128));
    EXPECT_NEAR(secondsSince(start), 5 + 265 * 10.0 / 1200 - 0.5, 0.1);
}

TEST_F(MeterLinkTest, theLastDownloadPointerKeepsItsThreeDataBytes)
{
    answerEverySendWith(framed("0161" "0a9c40"), 100);
    ASSERT_TRUE(link.ReadLastDownloadPointer(1));
    EXPECT_EQ(link.LastDownloadPointer, hex("0a9c40"));
    EXPECT_EQ(port.sends()[0].bytes.toHex(), "016100000000000" "3b1");

    QByteArray bad = framed("0161" "0b9d48");
    bad[6] = static_cast<char>(bad[6] ^ 0x10);
    answerEverySendWith(bad);
    EXPECT_FALSE(link.ReadLastDownloadPointer(1));
}

TEST_F(MeterLinkTest, aConfirmationNeedsOnlyOneByteAndLeavesItUnread)
{
    answerEverySendWith(hex("06"), 800);
    const std::int64_t start = clock.monotonicMs();
    ASSERT_TRUE(link.ConfirmDownload(1));
    EXPECT_NEAR(secondsSince(start), 0.8, 0.02);
    EXPECT_EQ(port.sends()[0].bytes.toHex(), "016281c9");
    EXPECT_EQ(serial.ReceivedCount(), 1);
}

TEST_F(MeterLinkTest, aKeyWriteSucceedsOnAnyWellFormedEchoAndIsResentWhileUnanswered)
{
    link.RegisterHighBytes[0] = link.RegisterLowBytes[0] = 'E';
    answerEverySendWith(framed("0210" "00d10001"));
    ASSERT_TRUE(link.WriteRegisters(1, 208, 1, 2));
    EXPECT_EQ(port.sends()[0].bytes.toHex(), "011000d00001024545" "46a3");

    int sends = 0;
    port.setResponder([&](const QByteArray &, FakeSerialPort &p) {
        if (++sends == 3)
            p.deliver(framed("011000d00001"));
    });
    ASSERT_TRUE(link.WriteRegisters(1, 208, 1, 2));
    EXPECT_EQ(sends, 3);

    // An exception reply never reaches eight bytes.
    answerEverySendWith(framed("0190" "02"));
    EXPECT_FALSE(link.WriteRegisters(1, 208, 1, 2));
}

TEST_F(MeterLinkTest, theDisplayBlockLeavesItsTwentyBytesEvenWhenTheCrcIsWrong)
{
    const QByteArray block = pattern(20);
    const QByteArray reply = appendCrc(hex("01630000") + block);
    answerEverySendWith(reply, 200);
    ASSERT_TRUE(link.ReadDisplayBlock(1));
    EXPECT_EQ(link.ReplyData, block);

    QByteArray bad = reply;
    bad[24] = static_cast<char>(bad[24] ^ 0xFF);
    answerEverySendWith(bad);
    EXPECT_FALSE(link.ReadDisplayBlock(1));
    EXPECT_EQ(link.ReplyData, block);
}

TEST_F(MeterLinkTest, nothingIsSentWhenThePortWillNotOpenOrTheAddressDoesNotFitAByte)
{
    port.failOpenWith(QStringLiteral("Permission denied"));
    const std::int64_t start = clock.monotonicMs();
    EXPECT_FALSE(link.ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_FALSE(link.ReadLogBlock(1, 8, 0x80, 0, 128));
    EXPECT_FALSE(link.ConfirmDownload(1));
    EXPECT_LT(secondsSince(start), 0.05) << "fails at once";
    port.allowOpen();
    for (int slave : {-1, 256, 300})
        EXPECT_FALSE(link.ReadHoldingRegisters(slave, 0, 76, 8)) << slave;
    EXPECT_TRUE(port.sends().empty());
}

TEST_F(MeterLinkTest, anAdapterPulledOutFailsLikeASilentMeterAndWorksAgainOncePluggedIn)
{
    answerEverySendWith(holdingReply(kPointerRegisters));
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 76, 8));
    port.unplug();
    EXPECT_FALSE(link.ReadHoldingRegisters(1, 0, 76, 8));
    port.plugBackIn();
    EXPECT_TRUE(link.ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_EQ(port.opens().size(), 3u);
}

TEST_F(MeterLinkTest, anExchangeStartedWhileAnotherWaitsIsRefusedWithoutTouchingThePort)
{
    answerEverySendWith(holdingReply(kPointerRegisters), 300);
    int nestedResults = 0;
    pump.runAfter(100, [&] {
        EXPECT_TRUE(link.isBusy());
        nestedResults += link.ReadDisplayBlock(1) ? 1 : 0;
        nestedResults += link.ConfirmDownload(1) ? 1 : 0;
    });
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_EQ(nestedResults, 0);
    EXPECT_EQ(port.sends().size(), 1u);
    EXPECT_FALSE(link.isBusy());
    {
        MeterLink::Hold hold(link);
        EXPECT_TRUE(link.isBusy());
    }
    EXPECT_FALSE(link.isBusy());
}

namespace {

// Records what the communication monitor would be told.
class RecordingObserver : public LinkObserver {
public:
    void requestSent(const QByteArray &frame, bool resend) override
    {
        events << (resend ? "resend " : "send ") + frame.toHex();
    }
    void replyRead(const QByteArray &frame, bool crcOk) override
    {
        events << (crcOk ? "reply " : "bad reply ") + frame.toHex();
    }
    void exchangeFailed(const QByteArray &request, LinkFailure why) override
    {
        events << QByteArray(why == LinkFailure::TimedOut ? "timed out " : why == LinkFailure::CrcError ? "crc " : "closed ")
                      + request.toHex();
    }
    QList<QByteArray> events;
};

} // namespace

TEST_F(MeterLinkTest, theMonitorSeesEachRequestReplyResendAndFailure)
{
    RecordingObserver monitor;
    link.setObserver(&monitor);
    bool first = true;
    port.setResponder([&](const QByteArray &, FakeSerialPort &p) {
        if (!std::exchange(first, false))
            p.deliver(framed("0161" "0a9c40"));
    });
    EXPECT_FALSE(link.ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_EQ(monitor.events.value(0), "send 0103004c000885db");
    EXPECT_TRUE(monitor.events.contains("resend 0103004c000885db"));
    EXPECT_TRUE(monitor.events.back().startsWith("crc ")) << "a 7-byte pointer reply read as registers";

    monitor.events.clear();
    answerEverySendWith(framed("0161" "0a9c40"));
    ASSERT_TRUE(link.ReadLastDownloadPointer(1));
    ASSERT_EQ(monitor.events.size(), 2);
    EXPECT_EQ(monitor.events[0], "send 0161000000000003b1");
    EXPECT_EQ(monitor.events[1], "reply " + framed("0161" "0a9c40").toHex());

    monitor.events.clear();
    port.setResponder(nullptr);
    EXPECT_FALSE(link.ConfirmDownload(1));
    EXPECT_EQ(monitor.events.back(), "timed out 016281c9");

    link.setObserver(nullptr);
    EXPECT_FALSE(link.ConfirmDownload(1));
    EXPECT_EQ(monitor.events.size(), 2) << "a detached monitor hears nothing";
}

TEST_F(MeterLinkTest, aLateReplyToAnotherBlockIsNotTakenForThisOne)
{
    // The answer to an earlier request for the block before arrives first.
    answerEverySendWith(logBlockReply(pattern(200), -1, "087f00"));
    EXPECT_FALSE(link.ReadLogBlock(1, 0x08, 0x80, 0x00, 100));

    answerEverySendWith(logBlockReply(pattern(200), -1, "088000"));
    ASSERT_TRUE(link.ReadLogBlock(1, 0x08, 0x80, 0x00, 100));
    EXPECT_EQ(link.ReplyData, pattern(200));
}

TEST_F(MeterLinkTest, aMeterThatAnswersWithinTheIntervalIsAskedOnceWhateverTheTimeOfDay)
{
    // Start times are rounded to whole seconds; a send just before a half
    // second must not be repeated at once.
    for (double fraction : {0.45, 0.49, 0.95}) {
        clock.setTimeOfDay(12 * 3600 + fraction);
        const size_t before = port.sends().size();
        answerEverySendWith(logBlockReply(pattern(200)), 400);
        ASSERT_TRUE(link.ReadLogBlock(1, 0x18, 0x81, 0x00, 100)) << fraction;
        EXPECT_EQ(port.sends().size() - before, 1u) << fraction;
    }
}
