#include "wait_policy.h"

#include <algorithm>

namespace ostrand {

WaitPolicy::WaitPolicy(const ExchangeTiming &timing, const WaitLine &line, double firstSend, double sentAt)
    : timing_(timing), firstSend_(firstSend), sentAt_(sentAt), lastSend_(sentAt)
{
    // A reply that takes longer on the wire than the wait between resends (a
    // long block at 4800 baud or less, or over a slow modem) gets that much
    // more time. Shorter replies, the usual case at 9600 baud and above,
    // leave the meter's timing exactly as it always was.
    const double slowLineAllowance = std::max(0.0, line.replyWireTime - timing.slowLine);
    giveUp_ = std::max(timing.giveUp, line.replyTime) + slowLineAllowance;
    // A configured or learnt reply time lengthens the interval, never past the give-up time.
    resend_ = timing.resend > 0 ? std::min(giveUp_, std::max({timing.resend, line.replyTime, line.learntResend})) : 0.0;
}

bool WaitPolicy::givesUpBeforeReply(double now) const
{
    return timing_.check == GiveUpCheck::BeforeReply && pastGiveUp(now);
}

WaitPolicy::Step WaitPolicy::next(double now, std::optional<double> lastByte) const
{
    // Resends count from the later of the last send and the last byte seen,
    // so a reply still arriving (a long block at a slow rate) is never cut off.
    const double resendDue = std::max(lastSend_, lastByte.value_or(lastSend_)) + resend_;
    // A lengthened interval: a resend too near the give-up time to be
    // answered is not sent, and the wait still ends on time.
    const bool tooLate = resend_ > timing_.resend && resendDue + timing_.resend > firstSend_ + giveUp_;
    if (tooLate && now > resendDue && now >= firstSend_ + giveUp_)
        return Step::GiveUp;
    if (resend_ > 0 && !tooLate && now > resendDue) {
        if (timing_.check == GiveUpCheck::WhenResendDue && now - firstSend_ >= giveUp_)
            return Step::GiveUp;
        return Step::Resend;
    }
    if (timing_.check == GiveUpCheck::AfterResend && pastGiveUp(now))
        return Step::GiveUp;
    return Step::Wait;
}

void WaitPolicy::resent(double at)
{
    lastSend_ = at;
    ++sends_;
}

double WaitPolicy::slowPathResend(double at) const
{
    if (sends_ == 1)
        return 0;
    // Half as long again as the reply took leaves room for the path's jitter;
    // waiting longer than the give-up time would only delay giving up.
    return std::min(giveUp_, 1.5 * (at - sentAt_));
}

} // namespace ostrand
