#pragma once

#include "display/meter_type.h"

#include <cstdint>
#include <optional>

namespace ostrand {

class Clock;

// How long the meter has gone without answering the display's polls, counted
// on the window's clock rather than in polls: a "7700 Series" poll is several
// reads, each waiting up to 30 s, so a silent meter ends no poll for minutes.
class ReplyWatch {
public:
    // A poll waiting this long since the last reply shows "No reply from meter".
    static constexpr std::int64_t kNoReplyMs = 3000;

    explicit ReplyWatch(const Clock &clock) : clock_(clock) {}

    // Polling of `type` starts: the silence counts from now, nothing is missing yet.
    void start(MeterType type);
    // A poll went to the line, or it is over (finished, stopped or never run).
    void pollStarted() { pollRunning_ = true; }
    void pollFinished() { pollRunning_ = false; }
    bool pollRunning() const { return pollRunning_; }
    // The meter answered one exchange of a poll.
    void replied();
    // A poll's exchanges are over: `answered` when any of them was.
    void pollEnded(bool answered);

    // The last poll went unanswered, or the running one has waited kNoReplyMs since the last reply.
    bool noReply() const;
    // The values are older than the type's polls allow: 3 s for the text
    // display, two poll periods for the value block.
    bool stale() const;
    // Milliseconds until noReply() or stale() turns true with time alone; none when neither will.
    std::optional<std::int64_t> msUntilChange() const;

private:
    std::int64_t silentMs() const;

    const Clock &clock_;
    std::int64_t staleAfterMs_ = kNoReplyMs;
    std::int64_t lastReplyMs_ = 0;
    bool pollRunning_ = false;
    bool lastPollUnanswered_ = false;
};

} // namespace ostrand
