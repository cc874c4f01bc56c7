#include "link/wait_policy.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace ostrand;

namespace {

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

} // namespace

// Each row: a wait begun at second 0 of the give-up count (sent at `sentAt`),
// resent at the times listed, asked at `now`.
TEST(WaitPolicy, answersWaitResendOrGiveUpByTheExchangesTimingAndTheLines)
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
        {"silent under the interval", timing::kHoldingRegisters, {}, 0, {}, 0.99, {}, kWait},
        {"silent past the interval", timing::kHoldingRegisters, {}, 0, {}, 1.01, {}, kResend},
        {"a byte seen pushes the resend back", timing::kHoldingRegisters, {}, 0, {}, 1.2, 0.5, kWait},
        {"resends count from the last one", timing::kHoldingRegisters, {}, 0, {1.01, 2.02}, 3.0, {}, kWait},
        // Registers give up only when a resend falls due; blocks on any wake after the resend.
        {"registers past the give-up time, no resend due", timing::kHoldingRegisters, {}, 0, {29.5}, 30.4, {}, kWait},
        {"registers past the give-up time, a resend due", timing::kHoldingRegisters, {}, 0, {29.5}, 30.6, {}, kGiveUp},
        {"a block past the give-up time", timing::kLogBlock, {}, 0, {4.9}, 5.01, {}, kGiveUp},
        {"a block on the give-up time", timing::kLogBlock, {}, 0, {4.9}, 5.0, {}, kWait},
        {"a confirmation gives up before reading", timing::kConfirmDownload, {}, 0, {}, 4.01, {}, "give up before the reply"},
        {"a display block never resends", timing::kDisplayBlock, {}, 0, {}, 0.99, {}, kWait},
        {"a display block past 1 s", timing::kDisplayBlock, {}, 0, {}, 1.01, {}, kGiveUp},
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
}

TEST(WaitPolicy, aReplyAfterAResendTeachesHalfAsLongAgainAsItTookButNoMoreThanTheGiveUpTime)
{
    const struct {
        int resends;
        double replyAt;
        double learnt;
    } rows[] = {{0, 0.8, 0}, {1, 2.0, 3.0}, {2, 21.0, 30.0}};
    for (const auto &row : rows) {
        WaitPolicy policy(timing::kHoldingRegisters, {}, 0, 0);
        for (int i = 0; i < row.resends; ++i)
            policy.resent(1.0 + i);
        EXPECT_DOUBLE_EQ(policy.slowPathResend(row.replyAt), row.learnt) << row.replyAt;
    }
}
