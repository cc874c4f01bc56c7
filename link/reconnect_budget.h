#pragma once

#include "link/link_failure.h"

#include <array>
#include <cstdint>
#include <optional>

namespace ostrand {

// How far an operation goes to get a device server's dropped connection back:
// three tries to connect again for the whole operation, not three a drop, so
// a line that drops again after every reconnect ends it instead of holding it
// for ever. The tries are spaced (1 s, 3 s, 9 s), so a server that restarts
// gets time to come back, and each begins within 30 s of the drop that
// opened the window. A meter that stays silent on a live connection, or a
// server that was never reached, is no drop.
class ReconnectBudget {
public:
    static constexpr int kTries = 3;
    static constexpr std::int64_t kWithinMs = 30000;
    static constexpr std::array<std::int64_t, kTries> kPausesMs{1000, 3000, 9000};

    // After an exchange's `failure` at `nowMs`, `reconnecting` when that
    // exchange already tried to connect again: how long to wait before the
    // next try, or nothing when none is to be made.
    std::optional<std::int64_t> nextTry(const LinkFailure &failure, bool reconnecting, std::int64_t nowMs);
    // Whether a drop was seen and the tries ran out (or the time did).
    bool spent() const { return spent_; }
    int tries() const { return tries_; }
    // Why the connection went, as the port said when it was lost.
    const QString &dropReason() const { return dropReason_; }

private:
    bool windowOpen_ = false;
    bool spent_ = false;
    int tries_ = 0;
    std::int64_t windowFromMs_ = 0;
    QString dropReason_;
};

} // namespace ostrand
