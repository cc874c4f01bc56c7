#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace ostrand {

class Clock;
class EventPump;

enum class PumpedWait { Done, TimedOut, Stopped };

// Yields through `pump` until `done` holds, monotonic time `deadlineMs` is
// reached or `stopFlag` (may be null) is set, so the thread's own events (a
// socket's progress) are what end the wait; checks `done` first.
PumpedWait waitPumped(const Clock &clock, EventPump &pump, const std::atomic<bool> *stopFlag,
                      const std::function<bool()> &done, std::int64_t deadlineMs);

} // namespace ostrand
