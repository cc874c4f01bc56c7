#pragma once

#include <functional>
#include <optional>

namespace ostrand {

// An exchange that has waited long enough without a reply to be worth telling
// someone: seconds on the line's clock, both counted from the start its
// give-up time counts from.
struct ReplyWait {
    int silentSeconds = 0;    // whole seconds since the request first went out
    double giveUpSeconds = 0; // when the exchange gives up
};

// Told from inside an exchange's wait, on the line's thread: each whole second
// of a silence once the line has been quiet for kReplyWaitShownAfter, then
// std::nullopt when that wait ends, answered or not.
using ReplyWaitWatcher = std::function<void(const std::optional<ReplyWait> &wait)>;

// Seconds without a byte before a wait counts as one: an answer at the usual
// rates is in long before.
constexpr double kReplyWaitShownAfter = 1.0;

} // namespace ostrand
