#pragma once

#include "link/exchange_timings.h"

#include <optional>

namespace ostrand {

// What the line adds to an exchange's own timing.
struct WaitLine {
    double replyTime = 0;       // the configured reply time of a slow path; 0 for none
    double learntResend = 0;    // the resend interval a slow path taught the operation; 0 for none
    double replyWireTime = 0;   // seconds the whole reply takes on the line at its rate
};

// When a wait for a reply sends the request again and when it gives up, from
// the exchange's timing and the line's. Given the times of the sends and of
// the bytes seen; it reads no clock and touches no port. Times are seconds on
// one scale (the wait clock's time of day).
class WaitPolicy {
public:
    enum class Step { Wait, Resend, GiveUp };

    // `firstSend` is the start the give-up time counts from (rounded to a whole
    // second, as the meters have always been timed), `sentAt` the real send.
    WaitPolicy(const ExchangeTiming &timing, const WaitLine &line, double firstSend, double sentAt);

    // Seconds from the first send to giving up, a slow line's allowance included.
    double giveUpSeconds() const { return giveUp_; }
    // Silence before the request goes out again; 0 for never.
    double resendSeconds() const { return resend_; }
    int sends() const { return sends_; }

    // On a wake, before any reply is looked at: whether the wait ends there.
    bool givesUpBeforeReply(double now) const;
    // On a wake that found no usable reply, the last byte of any kind seen at `lastByte`.
    Step next(double now, std::optional<double> lastByte) const;
    // The request went out again at `at`.
    void resent(double at);
    // A reply that began at `at` only after the request went out again shows a
    // slow path: the resend interval it calls for; 0 when it was sent once.
    double slowPathResend(double at) const;

private:
    bool pastGiveUp(double now) const { return now > firstSend_ + giveUp_; }

    ExchangeTiming timing_;
    double giveUp_;
    double resend_;
    double firstSend_;
    double sentAt_;
    double lastSend_;
    int sends_ = 1;
};

} // namespace ostrand
