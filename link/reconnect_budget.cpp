#include "reconnect_budget.h"

namespace ostrand {

std::optional<std::int64_t> ReconnectBudget::nextTry(const LinkFailure &failure, bool reconnecting,
                                                     std::int64_t nowMs)
{
    if (!reconnecting) {
        if (!failure.lineLost)
            return std::nullopt;
        // A drop soon after another belongs to its window: a line that keeps
        // dropping must not earn itself fresh time with every reconnect.
        if (!windowOpen_ || nowMs - windowFromMs_ >= kWithinMs)
            windowFromMs_ = nowMs;
        windowOpen_ = true;
        dropReason_ = failure.lostLineReason;
    } else if (!failure.lineLost && failure.error != LinkError::PortNotOpen) {
        // Connected again, the meter itself failed the exchange: its own rules apply.
        return std::nullopt;
    }
    if (spent_ || tries_ >= kTries) {
        spent_ = true;
        return std::nullopt;
    }
    const std::int64_t pause = kPausesMs[static_cast<std::size_t>(tries_)];
    if (nowMs + pause - windowFromMs_ >= kWithinMs) {
        spent_ = true;
        return std::nullopt;
    }
    ++tries_;
    return pause;
}

} // namespace ostrand
