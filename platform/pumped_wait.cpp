#include "pumped_wait.h"

#include "clock.h"
#include "event_pump.h"

#include <algorithm>

namespace ostrand {
namespace {

// Short enough that a stop or the deadline is seen promptly; the socket's own
// events end each wait sooner.
constexpr int kWaitSliceMs = 10;

} // namespace

PumpedWait waitPumped(const Clock &clock, EventPump &pump, const std::atomic<bool> *stopFlag,
                      const std::function<bool()> &done, std::int64_t deadlineMs)
{
    for (;;) {
        if (done())
            return PumpedWait::Done;
        if (stopFlag && stopFlag->load())
            return PumpedWait::Stopped;
        const std::int64_t left = deadlineMs - clock.monotonicMs();
        if (left <= 0)
            return PumpedWait::TimedOut;
        pump.yield(static_cast<int>(std::min<std::int64_t>(left, kWaitSliceMs)));
    }
}

} // namespace ostrand
