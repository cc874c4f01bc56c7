#include "link/wait_policy.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace ostrand;

namespace {

enum class Expect { Wait, Resend, GiveUp, GiveUpUnread };

const char *name(Expect e)
{
    switch (e) {
    case Expect::Wait: return "wait";
    case Expect::Resend: return "resend";
    case Expect::GiveUp: return "give up";
    case Expect::GiveUpUnread: return "give up before the reply";
    }
    return "?";
}

Expect decide(const WaitPolicy &policy, double now, std::optional<double> lastByte)
{
    if (policy.givesUpBeforeReply(now))
        return Expect::GiveUpUnread;
    switch (policy.next(now, lastByte)) {
    case WaitPolicy::Step::Wait: return Expect::Wait;
    case WaitPolicy::Step::Resend: return Expect::Resend;
    case WaitPolicy::Step::GiveUp: return Expect::GiveUp;
    }
    return Expect::Wait;
}

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
        Expect expect;
    } rows[] = {
        {"silent under the interval", timing::kHoldingRegisters, {}, 0, {}, 0.99, {}, Expect::Wait},
        {"silent past the interval", timing::kHoldingRegisters, {}, 0, {}, 1.01, {}, Expect::Resend},
        {"a byte seen pushes the resend back", timing::kHoldingRegisters, {}, 0, {}, 1.2, 0.5, Expect::Wait},
        {"resends count from the last one", timing::kHoldingRegisters, {}, 0, {1.01, 2.02}, 3.0, {}, Expect::Wait},
        // Registers give up only when a resend falls due; blocks on any wake after the resend.
        {"registers past the give-up time, no resend due", timing::kHoldingRegisters, {}, 0, {29.5}, 30.4, {},
         Expect::Wait},
        {"registers past the give-up time, a resend due", timing::kHoldingRegisters, {}, 0, {29.5}, 30.6, {},
         Expect::GiveUp},
        {"a block past the give-up time", timing::kLogBlock, {}, 0, {4.9}, 5.01, {}, Expect::GiveUp},
        {"a block on the give-up time", timing::kLogBlock, {}, 0, {4.9}, 5.0, {}, Expect::Wait},
        {"a confirmation gives up before reading", timing::kConfirmDownload, {}, 0, {}, 4.01, {}, Expect::GiveUpUnread},
        {"a display block never resends", timing::kDisplayBlock, {}, 0, {}, 0.99, {}, Expect::Wait},
        {"a display block past 1 s", timing::kDisplayBlock, {}, 0, {}, 1.01, {}, Expect::GiveUp},
        // A send just before a whole second counts its give-up from the rounded
        // second, its resend from the real send: not resent at once.
        {"sent 0.05 s before its start: no resend yet", timing::kLogBlock, {}, -0.05, {}, 0.4, {}, Expect::Wait},
        {"sent 0.05 s before its start: resent", timing::kLogBlock, {}, -0.05, {}, 0.46, {}, Expect::Resend},
        // A long reply at a slow rate earns its wire time beyond the interval.
        {"1200 baud block within its allowance", timing::kLogBlock, {0, 0, 2.21}, 0, {6.3}, 6.7, {}, Expect::Wait},
        {"1200 baud block past its allowance", timing::kLogBlock, {0, 0, 2.21}, 0, {6.3}, 6.72, {}, Expect::GiveUp},
        {"a configured reply time lengthens a display block's", timing::kDisplayBlock, {2, 0, 0}, 0, {}, 1.9, {},
         Expect::Wait},
        {"a short configured reply time never shortens", timing::kHoldingRegisters, {0.5, 0, 0}, 0, {}, 0.9, {},
         Expect::Wait},
        {"a learnt interval", timing::kHoldingRegisters, {0, 3, 0}, 0, {}, 2.9, {}, Expect::Wait},
        {"a learnt interval passed", timing::kHoldingRegisters, {0, 3, 0}, 0, {}, 3.1, {}, Expect::Resend},
        // Learnt past the give-up time: one send, and the wait still ends on time.
        {"too late to resend", timing::kHoldingRegisters, {0, 31.5, 0}, -0.4, {}, 29.7, {}, Expect::Wait},
        {"too late to resend, on the give-up time", timing::kHoldingRegisters, {0, 31.5, 0}, -0.4, {}, 30.0, {},
         Expect::GiveUp},
    };
    for (const auto &row : rows) {
        WaitPolicy policy(row.timing, row.line, 0, row.sentAt);
        for (double at : row.resentAt)
            policy.resent(at);
        EXPECT_STREQ(name(decide(policy, row.now, row.lastByte)), name(row.expect)) << row.what;
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
