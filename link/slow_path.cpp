#include "slow_path.h"

#include "link/serial_link.h"
#include "platform/clock.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace ostrand {

void SlowPath::learn(double interval, int extraSends, int openCount)
{
    resend_ = std::max(resend_, interval);
    strays_ += extraSends;
    strayOpenCount_ = openCount;
    strayQuiet_ = std::max(strayQuiet_, interval);
}

void SlowPath::drainStrays(SerialLink &link)
{
    const int strays = std::exchange(strays_, 0);
    const double quietMs = std::exchange(strayQuiet_, 0) * 1000.0;
    if (strays == 0 || link.openCount() != strayOpenCount_)
        return;
    const std::int64_t startMs = link.clock().monotonicMs();
    // Each stray may follow the one before by a reply time: enough for all of them.
    const double limitMs = (strays + 1) * quietMs + 1000.0;
    for (;;) {
        link.receivedCount();
        const std::int64_t nowMs = link.clock().monotonicMs();
        if (nowMs - link.lineQuietFromMs() >= quietMs || nowMs - startMs >= limitMs || link.stopRequested())
            return;
        link.waitForEvent();
    }
}

} // namespace ostrand
