#pragma once

#include "link/link_failure.h"

#include <cstdint>

namespace ostrand {

// How far an exchange goes to get a device server's dropped connection back:
// connected again at once, up to three tries within 30 s of the drop, and the
// exchange asked again after each reconnect. A meter that stays silent on a
// live connection, or a server that was never reached, is no drop.
class ReconnectBudget {
public:
    static constexpr int kTries = 3;
    static constexpr std::int64_t kWithinMs = 30000;

    // After `failure` at `nowMs`: whether to connect and ask again.
    bool another(const LinkFailure &failure, std::int64_t nowMs);
    // Whether a drop was seen and the tries ran out (or the time did).
    bool spent() const { return spent_; }
    int tries() const { return tries_; }
    // Why the connection went, as the port said when it was lost.
    const QString &dropReason() const { return dropReason_; }

private:
    bool dropped_ = false;
    bool spent_ = false;
    int tries_ = 0;
    std::int64_t droppedAtMs_ = 0;
    QString dropReason_;
};

} // namespace ostrand
