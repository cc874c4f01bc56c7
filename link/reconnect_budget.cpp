#include "reconnect_budget.h"

namespace ostrand {

bool ReconnectBudget::another(const LinkFailure &failure, std::int64_t nowMs)
{
    if (!dropped_) {
        if (!failure.lineLost)
            return false;
        dropped_ = true;
        droppedAtMs_ = nowMs;
        dropReason_ = failure.lostLineReason;
    } else if (!failure.lineLost && failure.error != LinkError::PortNotOpen) {
        // Connected again, the meter itself failed the exchange: its own rules apply.
        return false;
    }
    if (tries_ >= kTries || nowMs - droppedAtMs_ >= kWithinMs) {
        spent_ = true;
        return false;
    }
    ++tries_;
    return true;
}

} // namespace ostrand
