#include "reply_watch.h"

#include "platform/clock.h"

#include <algorithm>

namespace ostrand {

void ReplyWatch::start(MeterType type)
{
    const MeterTypeInfo &info = meterTypeInfo(type);
    staleAfterMs_ = info.poll == PollKind::TextDisplay ? kNoReplyMs : 2 * info.periodMs;
    lastReplyMs_ = clock_.monotonicMs();
    lastPollUnanswered_ = false;
}

void ReplyWatch::replied()
{
    lastReplyMs_ = clock_.monotonicMs();
    lastPollUnanswered_ = false;
}

void ReplyWatch::pollEnded(bool answered)
{
    lastPollUnanswered_ = !answered;
}

std::int64_t ReplyWatch::silentMs() const
{
    return clock_.monotonicMs() - lastReplyMs_;
}

bool ReplyWatch::noReply() const
{
    return lastPollUnanswered_ || (pollRunning_ && silentMs() >= kNoReplyMs);
}

bool ReplyWatch::stale() const
{
    return silentMs() >= staleAfterMs_;
}

std::optional<std::int64_t> ReplyWatch::msUntilChange() const
{
    std::optional<std::int64_t> next;
    const auto consider = [&next](std::int64_t ms) { next = next ? std::min(*next, ms) : ms; };
    if (!stale())
        consider(staleAfterMs_ - silentMs());
    if (!noReply() && pollRunning_)
        consider(kNoReplyMs - silentMs());
    return next;
}

} // namespace ostrand
