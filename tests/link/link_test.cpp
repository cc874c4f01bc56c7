#include "link_fixture.h"
#include "link/wait_policy.h"

#include <functional>
#include <optional>
#include <tuple>
#include <utility>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// What an exchange returned, whatever its kind.
struct Outcome {
    std::optional<LinkError> error; // nullopt when it succeeded
    QByteArray data;
};
Outcome outcome(const Result<QByteArray> &r) { return r ? Outcome{std::nullopt, *r} : Outcome{r.error(), {}}; }
Outcome outcome(const Result<void> &r) { return r ? Outcome{} : Outcome{r.error(), {}}; }

// The meter's answer to the n-th send (from 1).
using Answer = std::function<void(int n, FakeSerialPort &)>;
Answer every(const QByteArray &reply, int delayMs = 0, int bytesPerSecond = 0)
{
    return [=](int, FakeSerialPort &p) { p.deliver(reply, delayMs, bytesPerSecond); };
}
Answer only(int send, const QByteArray &reply, int delayMs = 0)
{
    return [=](int n, FakeSerialPort &p) { if (n == send) p.deliver(reply, delayMs); };
}
const Answer kSilent = [](int, FakeSerialPort &) {};
Answer first(const QByteArray &reply, const QByteArray &later)
{
    return [=](int n, FakeSerialPort &p) { p.deliver(n == 1 ? reply : later); };
}

constexpr double kNoon = 12 * 3600;
const QByteArray kRegisters = QByteArray::fromHex("0880000008BF00F800100FF0001001F4");

QByteArray frameOf(const QByteArray &hexBefore, const QByteArray &data = {})
{
    return appendCrc(QByteArray::fromHex(hexBefore) + data);
}
QByteArray pattern(int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>((i * 37 + 11) & 0xFF));
    return bytes;
}
QByteArray spoiled(QByteArray frame, int at)
{
    frame[at] = static_cast<char>(frame[at] ^ 0x41);
    return frame;
}
QByteArray logReply(const QByteArray &data, const char *address = "188100", const char *head = "0160", int announced = -1)
{
    const int length = announced < 0 ? data.size() : announced;
    QByteArray frame = QByteArray::fromHex(QByteArray(head) + address);
    frame.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF)).append(data);
    return appendCrc(frame);
}

struct Row {
    const char *what;
    Answer answer;
    int sends;
    double seconds; // from the first send to the result; < 0: not checked
    std::optional<LinkError> error;
    QByteArray data = {};
    double timeOfDay = kNoon;
    const char *baud = "38400";
};

class LinkTest : public LinkFixture {
protected:
    // Runs each row against `exchange`; every send must be `request`, byte for byte.
    void run(const char *request, const std::function<Outcome()> &exchange, std::initializer_list<Row> rows)
    {
        for (const Row &row : rows) {
            SCOPED_TRACE(row.what);
            // A reply still on its way from the row before is lost with the closed port.
            clock.advance(std::max<std::int64_t>(0, port.lineIdleAtMs() - clock.monotonicMs()));
            serial.closePort();
            LinkSettings settings{1, QString::fromLatin1(row.baud), 1};
            settings.echo = echoLine;
            serial.setSettings(settings);
            clock.setTimeOfDay(row.timeOfDay);
            const size_t before = port.sends().size();
            int n = 0;
            port.setResponder([&](const QByteArray &, FakeSerialPort &p) { row.answer(++n, p); });
            const std::int64_t start = clock.monotonicMs();
            const Outcome got = exchange();
            EXPECT_EQ(got.error, row.error);
            EXPECT_EQ(got.data, row.data);
            EXPECT_EQ(static_cast<int>(port.sends().size() - before), row.sends);
            for (size_t i = before; i < port.sends().size(); ++i)
                EXPECT_EQ(port.sends()[i].bytes.toHex(), QByteArray(request));
            if (row.seconds >= 0) {
                EXPECT_NEAR(secondsSince(start), row.seconds, 0.1);
            }
        }
        port.setResponder(nullptr);
    }

    bool echoLine = false; // the rows' line returns every byte sent
};

constexpr auto kTimedOut = LinkError::TimedOut;
constexpr auto kCrc = LinkError::CrcError;
constexpr auto kWrong = LinkError::WrongReply;

// The policy's answer at `now`, in words.
const char *decide(const WaitPolicy &policy, double now, std::optional<double> lastByte)
{
    if (policy.givesUpBeforeReply(now))
        return "give up before the reply";
    switch (policy.next(now, lastByte)) {
    case WaitPolicy::Step::Wait: return "wait";
    case WaitPolicy::Step::Resend: return "resend";
    case WaitPolicy::Step::GiveUp: return "give up";
    }
    return "?";
}
constexpr const char *kWait = "wait", *kResend = "resend", *kGiveUp = "give up";

LinkFailure failure(LinkError error)
{
    LinkFailure f;
    f.error = error;
    f.slave = 7;
    f.function = 0x60;
    f.port = QStringLiteral("COM1 (/dev/pts/1)");
    return f;
}

LinkFailure with(LinkFailure f, int code, const char *reason = "", bool lost = false)
{
    f.exceptionCode = code;
    f.portReason = QString::fromLatin1(reason);
    f.lineLost = lost;
    f.lostLineReason = lost ? QStringLiteral("No such device") : QString();
    return f;
}

// A device server's port: the far end may close the connection, and a refused connect may take its time.
class DroppingPort : public FakeSerialPort {
public:
    explicit DroppingPort(VirtualClock &clock) : FakeSerialPort(clock), clock_(clock) {}
    void drop()
    {
        lost_ = true;
        unplug();
        plugBackIn();
    }
    bool open(int portNumber, const QString &baudText) override
    {
        lost_ = false;
        return FakeSerialPort::open(portNumber, baudText) || (clock_.advance(failedConnectMs), false);
    }
    bool lineLost() const override { return lost_; }
    QString lostLineReason() const override { return lost_ ? QStringLiteral("closed by the far end") : QString(); }
    QString deviceName() const override { return QStringLiteral("tcp://gw:4001"); }
    bool namedByDevice() const override { return true; }
    int failedConnectMs = 0;

private:
    VirtualClock &clock_;
    bool lost_ = false;
};

// A device server at tcp://gw:4001 on the link, opened; `server` is its port.
class ReconnectFixture : public LinkFixture {
protected:
    ReconnectFixture()
    {
        serial.setNetworkPortMaker([this](const LinkSettings &, const std::atomic<bool> *) {
            auto made = std::make_unique<DroppingPort>(clock);
            server = made.get();
            return made;
        });
        LinkSettings settings{1, QStringLiteral("38400"), 1};
        settings.networkAddress = QStringLiteral("tcp://gw:4001");
        serial.setSettings(settings);
        serial.setStopFlag(&stop);
        serial.openPort();
    }
    // Half a reply, then the connection goes; connecting again is refused until allowed.
    void dropAndRefuse()
    {
        server->deliver(block.left(5));
        server->drop();
        server->failOpenWith(QStringLiteral("connection refused"));
    }
    // Connections made since `since` of them had been (the first one made by the fixture).
    int reconnects(std::size_t since = 1) const { return static_cast<int>(server->opens().size() - since); }
    // A fresh connection for the next row; returns the connections made so far.
    std::size_t connectAfresh()
    {
        server->allowOpen();
        serial.closePort();
        EXPECT_TRUE(serial.openPort());
        return server->opens().size();
    }

    const QByteArray block = appendCrc(QByteArray::fromHex("0160088000000a") + QByteArray(10, 'x'));
    DroppingPort *server = nullptr;
    std::atomic<bool> stop{false};
};

} // namespace

TEST_F(LinkTest, holdingRegisters)
{
    const QByteArray reply = frameOf("010310", kRegisters);
    run("0103004c000885db", [&] { return outcome(link.readHoldingRegisters(1, 76, 8)); }, {
        {"answered", every(reply, 20), 1, 0.02, {}, kRegisters},
        // Sent again without a discard: the late first reply is still read.
        {"answered 1.5 s late", only(1, reply, 1500), 2, 1.5, {}, kRegisters},
        {"silent", kSilent, 30, 30, kTimedOut},
        {"silent across midnight", kSilent, 30, 30, kTimedOut, {}, 86400 - 15},
        // Noise, or another slave's answer, counts as no answer: asked again at once.
        {"a corrupted byte, then answered", first(spoiled(reply, 5), reply), 2, 0, {}, kRegisters},
        {"another slave's reply, then answered", first(frameOf("020310", kRegisters), reply), 2, 0, {}, kRegisters},
        {"the first reply breaks off", only(1, reply.left(15)), 30, 30, kTimedOut},
        {"refused as an illegal function", every(frameOf("018301")), 1, 0, LinkError::IllegalFunction},
        {"busy, then answered", first(frameOf("018306"), reply), 2, 1, {}, kRegisters},
    });
    EXPECT_EQ(port.discardInputCount(), 11) << "one discard an exchange and one before asking again after noise, none on a resend";
}

TEST_F(LinkTest, logBlock)
{
    const QByteArray data = pattern(200);
    run("016018810000640bb5", [&] { return outcome(link.readLogBlock(1, 0x18, 0x81, 0x00, 100)); }, {
        {"answered", every(logReply(data), 30), 1, 0.03, {}, data},
        {"silent", kSilent, 10, 5, kTimedOut},
        {"a wrong CRC", every(spoiled(logReply(data), 208)), 1, -1, kCrc},
        {"a length promising 40 bytes more: 2 s after the last byte", every(logReply(data, "188100", "0160", 240)),
         1, 2, kTimedOut},
        // A late answer to an earlier request must not be taken for this block.
        {"a reply for another block", every(logReply(data, "187f00")), 1, -1, kWrong},
        {"another slave's reply", every(logReply(data, "188100", "0260")), 1, -1, kWrong},
        {"another function's reply", every(logReply(data, "188100", "0161")), 1, -1, kWrong},
        {"refused: illegal data address", every(frameOf("01e002"), 20), 1, 0.02, LinkError::IllegalDataAddress},
    });
}

TEST_F(LinkTest, aLongBlockAtTwelveHundredBaud)
{
    const int rate = FakeSerialPort::bytesPerSecondAt(1200);
    const QByteArray reply = logReply(pattern(256), "088000");
    run("01600880000080cbc1", [&] { return outcome(link.readLogBlock(1, 0x08, 0x80, 0x00, 128)); }, {
        // 265 bytes take 2.2 s: resends count from the last byte seen.
        {"arriving slowly is not cut off", every(reply, 40, rate), 1, 2.25, {}, pattern(256), kNoon, "1200"},
        {"breaking off half way, then resent", [&](int n, FakeSerialPort &p) {
             p.deliver(n == 1 ? reply.left(100) : reply, 10, rate);
         }, 2, -1, {}, pattern(256), kNoon, "1200"},
        {"silent: the wire time is allowed", kSilent, 14, 5 + 265 * 10.0 / 1200 - 0.5, kTimedOut, {}, kNoon, "1200"},
    });
}

// Midnight is crossed in the registers' table: every exchange waits on one WaitClock.
TEST_F(LinkTest, lastDownloadPointerConfirmationAndDisplayBlock)
{
    const QByteArray pointer = frameOf("01610a9c40");
    run("0161000000000003b1", [&] { return outcome(link.readLastDownloadPointer(1)); }, {
        {"answered", every(pointer, 100), 1, 0.1, {}, QByteArray::fromHex("0a9c40")},
        {"refused: illegal data value", every(frameOf("01e103")), 1, 0, LinkError::IllegalDataValue},
        {"silent", kSilent, 1, 5, kTimedOut},
        // Without the pointer a since-last download cannot start: noise is asked past, within the 5 s.
        {"every reply spoilt: the CRC is the reason", every(spoiled(pointer, 6), 1000), 5, 5, kCrc},
    });
    // One byte of any kind acknowledges the confirmation.
    run("016281c9", [&] { return outcome(link.confirmDownload(1)); }, {
        {"acknowledged", every(QByteArray::fromHex("06"), 800), 1, 0.8, {}},
        {"acknowledged by a lone slave byte", every(QByteArray::fromHex("01"), 800), 1, 0.85, {}},
        {"refused: slave device failure", every(frameOf("01e204")), 1, 0, LinkError::SlaveDeviceFailure},
        {"silent", kSilent, 1, 4, kTimedOut},
    });
    const QByteArray block = pattern(20);
    const QByteArray reply = frameOf("01630000", block);
    run("0163" "4009", [&] { return outcome(link.readDisplayBlock(1)); }, {
        {"answered", every(reply, 200), 1, 0.2, {}, block},
        {"refused with exception 11", every(frameOf("01e30b")), 1, 0, LinkError::Refused},
        {"silent", kSilent, 1, 1, kTimedOut},
    });
}

TEST_F(LinkTest, aLineThatEchoesHasTheRequestTakenOffBeforeTheReplyAndSaysSoWhenItDoesNot)
{
    const QByteArray request = QByteArray::fromHex("016018810000640bb5"), data = pattern(200), reply = logReply(data);
    // The echo comes back at the line's rate, as the adapter hears the request go out.
    const auto echoed = [&](Answer meter, QByteArray echo = {}, int baud = 38400) -> Answer {
        return [=, echo = echo.isEmpty() ? request : echo](int n, FakeSerialPort &p) {
            p.deliver(echo, 0, FakeSerialPort::bytesPerSecondAt(baud));
            meter(n, p);
        };
    };
    const auto block = [&] { return outcome(link.readLogBlock(1, 0x18, 0x81, 0x00, 100)); };
    echoLine = true;
    run(request.toHex().constData(), block, {
        // The echo is no reply begun: the resend still comes 0.5 s after the send.
        {"answered the second time", echoed(only(2, reply, 30), {}, 1200), 2, 0.54, {}, data, kNoon, "1200"},
        {"no echo and no reply: given up when a resend is due", kSilent, 1, 0.5, LinkError::EchoMissing},
        {"an echo that differs", echoed(every(reply, 30), spoiled(request, 4)), 1, -1, LinkError::EchoMissing},
    });
    echoLine = false;
    run(request.toHex().constData(), block, {{"not set for it", echoed(every(reply)), 1, -1, LinkError::LineEchoes}});
}

TEST_F(LinkTest, keyWrite)
{
    run("011000d00001024545" "46a3", [&] { return outcome(link.writeRegisters(1, 208, {0x4545})); }, {
        {"another slave's echo", every(frameOf("021000d10001")), 1, -1, kWrong},
        {"answered on the third send", only(3, frameOf("011000d00001")), 3, -1, {}},
        {"silent", kSilent, 3, 3, kTimedOut},
    });
    // The reply to a write of several registers is their address and count alone.
    run("011000d00002044545464649b8", [&] { return outcome(link.writeRegisters(1, 208, {0x4545, 0x4646})); }, {
        {"two registers, answered", every(frameOf("011000d00002"), 20), 1, 0.02, {}},
    });
}

TEST_F(LinkTest, aRequestThePortWillNotTakeFailsTheExchangeAtOnceWithThePortsReason)
{
    // Every exchange sends through one path: one that asks past noise, and one sent only once.
    const std::function<Outcome()> exchanges[] = {
        [&] { return outcome(link.readHoldingRegisters(1, 76, 8)); },
        [&] { return outcome(link.confirmDownload(1)); },
    };
    port.failSendsWith(QStringLiteral("Input/output error"));
    for (const auto &exchange : exchanges) {
        const std::int64_t start = clock.monotonicMs();
        EXPECT_EQ(exchange().error, LinkError::SendFailed);
        EXPECT_LT(secondsSince(start), 0.05);
    }
    EXPECT_TRUE(port.sends().empty());

    // A resend the port refuses ends the wait there, not at the give-up time.
    port.allowSends();
    port.setResponder([](const QByteArray &, FakeSerialPort &p) { p.failSendsWith(QStringLiteral("Input/output error")); });
    const std::int64_t start = clock.monotonicMs();
    const auto refused = link.readHoldingRegisters(1, 76, 8);
    EXPECT_NEAR(secondsSince(start), 1.0, 0.1);
    EXPECT_EQ(port.sends().size(), 1u);
    EXPECT_EQ(failureText(refused.failure()), "the request could not be sent: Input/output error");
}

TEST_F(LinkTest, nothingIsSentWhenThePortWillNotOpenTheAddressDoesNotFitOrTheLinkIsBusy)
{
    port.failOpenWith(QStringLiteral("Permission denied"));
    const std::int64_t start = clock.monotonicMs();
    const Result<void> refused = link.confirmDownload(1);
    EXPECT_EQ(refused.error(), LinkError::PortNotOpen);
    EXPECT_LT(secondsSince(start), 0.05) << "fails at once";
    EXPECT_TRUE(failureText(refused.failure()).endsWith("Permission denied"));
    port.allowOpen();
    for (int slave : {-1, 256, 300})
        EXPECT_EQ(link.readHoldingRegisters(slave, 76, 8).error(), LinkError::SlaveOutOfRange) << slave;
    EXPECT_TRUE(port.sends().empty());

    // A timer tick nested in an exchange's wait is refused without touching the port.
    port.setResponder([](const QByteArray &, FakeSerialPort &p) { p.deliver(frameOf("010310", kRegisters), 300); });
    std::optional<LinkError> nested;
    pump.runAfter(100, [&] { nested = link.readDisplayBlock(1).error(); });
    ASSERT_TRUE(link.readHoldingRegisters(1, 76, 8));
    EXPECT_EQ(nested, LinkError::Busy);
    EXPECT_EQ(port.sends().size(), 1u);
}

TEST_F(LinkTest, aRequestGoesOutOnlyAfterThreeAndAHalfCharactersOfSilenceOrTheRequestGapWhenLonger)
{
    const QByteArray reply = frameOf("010310", kRegisters);
    const struct {
        int baud, requestGapMs, gapMs;
    } rows[] = {{1200, 0, 33}, {38400, 0, 2}, {1200, 20, 33}, {38400, 300, 300}, {1200, 1000, 1000}};
    for (const auto &[baud, requestGapMs, gapMs] : rows) {
        serial.closePort();
        LinkSettings settings{1, QString::number(baud), 1};
        settings.requestGapMs = requestGapMs;
        serial.setSettings(settings);
        std::int64_t replyEndMs = 0;
        port.setResponder([&, baud = baud](const QByteArray &, FakeSerialPort &p) {
            p.deliver(reply, 0, FakeSerialPort::bytesPerSecondAt(baud));
            replyEndMs = p.lineIdleAtMs();
        });
        ASSERT_TRUE(link.readHoldingRegisters(1, 76, 8));
        const std::int64_t previousEnd = replyEndMs;
        ASSERT_TRUE(link.readHoldingRegisters(1, 76, 8));
        EXPECT_GE(port.sends().back().atMs - previousEnd, gapMs) << baud << " " << requestGapMs;
        EXPECT_LE(port.sends().back().atMs - previousEnd, gapMs + 3) << baud << " " << requestGapMs;
    }
}

TEST_F(LinkTest, keepsThePortOpenUntilAnotherPortOrSpeedIsChosenAndReopensAfterTheAdapterCameBack)
{
    answerEverySendWith(frameOf("010310", kRegisters));
    const std::pair<int, const char *> chosen[] = {{3, "9600"}, {3, "9600"}, {3, "1200"}, {2, "1200"}};
    for (const auto &[number, baud] : chosen) {
        serial.setSettings({number, QLatin1String(baud), 1});
        ASSERT_TRUE(link.readHoldingRegisters(1, 76, 8));
        EXPECT_EQ(port.opens().back().portNumber, number);
        EXPECT_EQ(port.opens().back().baudText, baud);
    }
    port.unplug();
    EXPECT_EQ(link.readHoldingRegisters(1, 76, 8).error(), LinkError::PortNotOpen);
    port.plugBackIn();
    EXPECT_TRUE(link.readHoldingRegisters(1, 76, 8));
    ASSERT_EQ(port.opens().size(), 5u) << "an open port on the chosen port and speed is kept";
    EXPECT_EQ(port.closeCount(), 2);
}

TEST_F(LinkTest, aByteWaitEndsWhenEnoughCameOrTwoSecondsAfterAStartRoundedToWholeSeconds)
{
    const struct {
        const char *what;
        double timeOfDay;
        const char *delivered;
        int delayMs, bytesPerSecond, count;
        const char *taken; // nullptr: the wait ran out
        double seconds;
        int left;
    } rows[] = {
        {"enough waiting: taken at once, the rest left", kNoon, "0a0b0c", 0, 0, 1, "0a", 0, 2},
        {"too few: nothing taken", kNoon, "0a0b0c", 0, 0, 4, nullptr, 2, 3},
        {"started 0.6 s past: rounded up", kNoon + 0.6, "", 0, 0, 1, nullptr, 2.4, 0},
        {"started 0.4 s past: rounded down", kNoon + 0.4, "", 0, 0, 1, nullptr, 1.6, 0},
        {"arriving during the wait", kNoon, "01020304", 300, 10, 2, "0102", 0.5, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(serial.openPort());
        port.discardInput();
        clock.setTimeOfDay(row.timeOfDay);
        port.deliver(QByteArray::fromHex(row.delivered), row.delayMs, row.bytesPerSecond);
        const std::int64_t start = clock.monotonicMs();
        const auto got = serial.readBytes(row.count);
        EXPECT_EQ(got, row.taken ? std::optional(QByteArray::fromHex(row.taken)) : std::nullopt);
        EXPECT_NEAR(secondsSince(start), row.seconds, 0.02);
        EXPECT_EQ(serial.receivedCount(), row.left);
        clock.advance(1000); // lets anything still on the line arrive before the next row
    }
}

TEST_F(LinkTest, aSlowPathLengthensTheResendIntervalForTheRestOfTheOperation)
{
    const QByteArray data = pattern(200);
    port.setResponder([&](const QByteArray &r, FakeSerialPort &p) { p.deliver(logReply(data, r.mid(2, 3).toHex().constData()), 600); });
    const MeterLink::Hold operation(link);
    for (int page : {0x81, 0x82, 0x83}) // the answer to a block's resend is not taken for the next block's
        EXPECT_EQ(outcome(link.readLogBlock(1, 0x18, page, 0, 100)).data, data) << page;
    EXPECT_EQ(port.sends().size(), 4u) << "only the first block is asked twice";
}

TEST_F(LinkTest, aFailureKeepsTheWordsOfItsOwnExchangeWhateverTheLinkDidSince)
{
    const auto silent = link.readDisplayBlock(7);
    answerEverySendWith(frameOf("010310", kRegisters));
    ASSERT_TRUE(link.readHoldingRegisters(1, 76, 8));
    EXPECT_EQ(failureText(silent.failure()), "No answer from address 7 on COM1 at 38400 baud within 1 s: check the "
                                             "cable, the baud rate and the address");
}

// Each silent second told, the wait's end and a reply that ends a wait are the progress bar's (download_progress_test).
TEST_F(LinkTest, aReplyComingInIsNoSilentWait)
{
    std::vector<int> told; // seconds told, -1 for the wait's end
    link.setReplyWaitWatcher([&](const std::optional<ReplyWait> &wait) { told.push_back(wait ? wait->silentSeconds : -1); });
    answerEverySendWith(logReply(pattern(200)), 200, 100); // a long block trickling in for 2 s
    EXPECT_TRUE(link.readLogBlock(1, 0x18, 0x81, 0, 100));
    EXPECT_EQ(told, std::vector<int>{});
}

// Each row: a wait begun at second 0 of the give-up count (sent at `sentAt`),
// resent at the times listed, asked at `now`.
TEST(WaitPolicy, answersWaitResendOrGiveUpByTheExchangesTimingAndTheLinesAndLearnsFromALateReply)
{
    const struct {
        const char *what;
        ExchangeTiming timing;
        WaitLine line;
        double sentAt;
        std::vector<double> resentAt;
        double now;
        std::optional<double> lastByte;
        const char *expect;
    } rows[] = {
        {"a byte seen pushes the resend back", timing::kHoldingRegisters, {}, 0, {}, 1.2, 0.5, kWait},
        // Registers give up only when a resend falls due; blocks on any wake after the resend.
        {"registers past the give-up time, no resend due", timing::kHoldingRegisters, {}, 0, {29.5}, 30.4, {}, kWait},
        {"registers past the give-up time, a resend due", timing::kHoldingRegisters, {}, 0, {29.5}, 30.6, {}, kGiveUp},
        {"a block past the give-up time", timing::kLogBlock, {}, 0, {4.9}, 5.01, {}, kGiveUp},
        {"a block on the give-up time", timing::kLogBlock, {}, 0, {4.9}, 5.0, {}, kWait},
        {"a confirmation gives up before reading", timing::kConfirmDownload, {}, 0, {}, 4.01, {}, "give up before the reply"},
        // A send just before a whole second counts its give-up from the rounded
        // second, its resend from the real send: not resent at once.
        {"sent 0.05 s before its start: no resend yet", timing::kLogBlock, {}, -0.05, {}, 0.4, {}, kWait},
        {"sent 0.05 s before its start: resent", timing::kLogBlock, {}, -0.05, {}, 0.46, {}, kResend},
        // A long reply at a slow rate earns its wire time beyond the interval.
        {"1200 baud block within its allowance", timing::kLogBlock, {0, 0, 2.21}, 0, {6.3}, 6.7, {}, kWait},
        {"1200 baud block past its allowance", timing::kLogBlock, {0, 0, 2.21}, 0, {6.3}, 6.72, {}, kGiveUp},
        {"a configured reply time lengthens a display block's", timing::kDisplayBlock, {2, 0, 0}, 0, {}, 1.9, {}, kWait},
        {"a short configured reply time never shortens", timing::kHoldingRegisters, {0.5, 0, 0}, 0, {}, 0.9, {}, kWait},
        {"a learnt interval", timing::kHoldingRegisters, {0, 3, 0}, 0, {}, 2.9, {}, kWait},
        {"a learnt interval passed", timing::kHoldingRegisters, {0, 3, 0}, 0, {}, 3.1, {}, kResend},
        // Learnt past the give-up time: one send, and the wait still ends on time.
        {"too late to resend", timing::kHoldingRegisters, {0, 31.5, 0}, -0.4, {}, 29.7, {}, kWait},
        {"too late to resend, on the give-up time", timing::kHoldingRegisters, {0, 31.5, 0}, -0.4, {}, 30.0, {}, kGiveUp},
    };
    for (const auto &row : rows) {
        WaitPolicy policy(row.timing, row.line, 0, row.sentAt);
        for (double at : row.resentAt)
            policy.resent(at);
        EXPECT_STREQ(decide(policy, row.now, row.lastByte), row.expect) << row.what;
    }
    // A reply after a resend teaches half as long again as it took, but no more than the give-up time.
    for (const auto &[resends, replyAt, learnt] : {std::tuple{0, 0.8, 0.0}, {1, 2.0, 3.0}, {2, 21.0, 30.0}}) {
        WaitPolicy policy(timing::kHoldingRegisters, {}, 0, 0);
        for (int i = 0; i < resends; ++i)
            policy.resent(1.0 + i);
        EXPECT_DOUBLE_EQ(policy.slowPathResend(replyAt), learnt) << replyAt;
    }
}

TEST(FailureText, saysWhatTheExchangeAskedWhereAndWhyFromTheFailureAlone)
{
    const char *const lost = "lost the line to COM1 (/dev/pts/1) during the download: the device went away (No such "
                             "device); check that the adapter is plugged in and the cable is sound, then start again";
    const struct {
        LinkFailure failure;
        const char *during;
        const char *text;
    } rows[] = {
        {with(failure(LinkError::Refused), 11), "",
         "The meter at address 7 refused function 0x60 (exception 11): is this the right meter type and address?"},
        {with(failure(LinkError::PortNotOpen), 0, "Cannot open COM1: Permission denied"), "the download",
         "Cannot open COM1: Permission denied"},
        {failure(LinkError::PortNotOpen), "", "the port would not open"},
        {with(failure(LinkError::PortNotOpen), 0, "the port's own words", true), "the download", lost},
        {with(failure(LinkError::PortNotOpen), 0, "the port's own words", true), "", "the port's own words"},
        {with(failure(LinkError::SendFailed), 0, "Input/output error", true), "the download", lost},
        {failure(LinkError::EchoMissing), "the download",
         "the echo of the request did not come back: is echo set for this line?"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(failureText(row.failure, QString::fromLatin1(row.during)), QString::fromLatin1(row.text));
}

// Before, every exchange that got through restarted the tries (a download went on reconnecting for ever),
// and a connection closed after a whole reply was made again by the next exchange, uncounted.
// One dropped half way through a reply is network_e2e_tests' server dropping every connection.
TEST_F(ReconnectFixture, aLineThatDropsAgainAfterEveryReconnectEndsTheOperationAfterThreeReconnects)
{
    // Closed once each whole reply has been read, before the next request.
    server->setResponder([&](const QByteArray &, FakeSerialPort &) {
        server->deliver(block);
        pump.runAt(server->lineIdleAtMs() + 3, [&] { server->drop(); });
    });
    MeterLink::Hold hold(link);
    const std::int64_t start = clock.monotonicMs();
    std::optional<LinkFailure> failure;
    int read = 0;
    for (; read < 100 && !failure; ++read)
        if (auto got = link.readLogBlock(1, 8, 0x80, 0, 5); !got)
            failure = got.failure();
    pump.clearHooks();
    ASSERT_TRUE(failure);
    EXPECT_EQ(read - 1, 4) << "one read on each connection";
    EXPECT_EQ(reconnects(), 3);
    EXPECT_TRUE(failureText(*failure).contains(QStringLiteral("3 tries to connect again failed")))
        << failureText(*failure).toStdString();
    // The tries waited 1 s, 3 s and 9 s.
    EXPECT_GE(secondsSince(start), 13.0);
    EXPECT_LT(secondsSince(start), 14.0);
}

// Before, the three tries fell within a millisecond of the drop: a server restarting in a second was never reached.
TEST_F(ReconnectFixture, aServerBackAfterItRestartsIsReachedByATryAfterItsPauseAndStopEndsThePauseAtOnce)
{
    const struct {
        int backAfterMs;
        bool reached;
        int reconnects; // tries made, the last one reaching the server if any did
        double endsAfter; // seconds from the drop
        int stopAfterMs = -1; // Stop pressed this long after the drop
    } rows[] = {
        {500, true, 1, 1},
        {1200, true, 2, 4},
        {5000, true, 3, 13},
        {14000, false, 3, 13},
        {14000, false, 0, 0.4, 400}, // during the pause before the first try: no connect
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.backAfterMs) + (row.stopAfterMs < 0 ? "" : ", stopped"));
        const std::size_t opens = connectAfresh();
        bool dropped = false;
        server->setResponder([&](const QByteArray &, FakeSerialPort &) {
            if (std::exchange(dropped, true))
                return server->deliver(block);
            dropAndRefuse();
            pump.runAfter(row.backAfterMs, [&] { server->allowOpen(); });
            if (row.stopAfterMs >= 0)
                pump.runAfter(row.stopAfterMs, [&] { stop = true; });
        });
        MeterLink::Hold hold(link);
        const std::int64_t start = clock.monotonicMs();
        const auto read = link.readLogBlock(1, 8, 0x80, 0, 5);
        pump.clearHooks();
        stop = false;
        EXPECT_EQ(read.ok(), row.reached);
        EXPECT_EQ(!read.ok() && read.error() == LinkError::Stopped, row.stopAfterMs >= 0);
        EXPECT_EQ(reconnects(opens), row.reconnects);
        EXPECT_NEAR(secondsSince(start), row.endsAfter, 0.1);
    }
}

TEST_F(ReconnectFixture, aDroppedConnectionIsMadeAgainUpToThreeTimesWithin30sAndOnlyReadsAreAskedAgain)
{
    const char *const lost = "the connection to tcp://gw:4001 was lost (closed by the far end) and ";
    const struct {
        const char *what;
        bool confirm;    // a download confirmation, else a block read
        bool refused;    // every connect after the first drop is refused, taking failedConnectMs
        int failedConnectMs, sends, reconnects;
        QString reason; // empty: the exchange succeeded
    } rows[] = {
        {"every reconnect refused", false, true, 0, 1, 3, lost + QStringLiteral("3 tries to connect again failed: connection refused")},
        {"none begins 30 s after the drop", false, true, 16000, 1, 2, lost + QStringLiteral("2 tries")},
        {"a confirmation is never sent twice", true, false, 0, 1, 0, "lost the line to tcp://gw:4001 during the download"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        const std::size_t opens = connectAfresh(), sends = server->sends().size();
        server->failedConnectMs = row.failedConnectMs;
        int n = 0;
        server->setResponder([&](const QByteArray &, FakeSerialPort &) {
            if (++n > 1) // the first send's connection drops halfway through the reply
                return server->deliver(row.confirm ? QByteArray::fromHex("01") : block);
            row.refused ? dropAndRefuse() : (server->deliver(block.left(5)), server->drop());
        });
        MeterLink::Hold hold(link);
        std::optional<LinkFailure> failure;
        if (const auto confirmed = row.confirm ? link.confirmDownload(1) : Result<void>(); !confirmed)
            failure = confirmed.failure();
        if (const auto read = row.confirm ? Result<QByteArray>(block) : link.readLogBlock(1, 8, 0x80, 0, 5); !read)
            failure = read.failure();
        EXPECT_EQ(static_cast<int>(server->sends().size() - sends), row.sends);
        EXPECT_EQ(reconnects(opens), row.reconnects);
        const QString text = failure ? failureText(*failure, QStringLiteral("the download")) : QString();
        EXPECT_EQ(text.isEmpty(), row.reason.isEmpty());
        EXPECT_TRUE(text.contains(row.reason)) << text.toStdString();
        // Once the reconnects are spent, the rest of the operation ends at once.
        if (!row.reason.isEmpty() && !row.confirm) {
            EXPECT_EQ(link.readLogBlock(1, 8, 0x81, 0, 5).error(), LinkError::PortNotOpen);
            EXPECT_EQ(reconnects(opens), row.reconnects);
        }
    }
}
