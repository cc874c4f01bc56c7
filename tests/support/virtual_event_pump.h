#pragma once

#include "platform/event_pump.h"
#include "virtual_clock.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

namespace ostrand {

// An EventPump on a VirtualClock: each yield lets a little virtual time pass, then runs the test's
// hooks (timer ticks and clicks arriving during the wait). A 30 s wait is 30000 cheap yields.
class VirtualEventPump : public EventPump {
public:
    using Hook = std::function<void()>;
    using HookId = int;

    // Each yield advances `clock` by min(`stepMs`, its maxWaitMs), at least 1 ms.
    explicit VirtualEventPump(VirtualClock &clock, int stepMs = 1);

    // Advances the clock by one step, then runs the due hooks (a hook may yield in turn).
    void yield(int maxWaitMs = 10) override;
    // Advances the clock by `ms`; runs no hook, as a frozen window handles nothing.
    void sleep(int ms) override;

    // Runs `hook` on every yield from now on, until the hooks are cleared.
    void onEachYield(Hook hook);
    // Runs `hook` once, on the first yield at or after monotonic time `monotonicMs`.
    void runAt(std::int64_t monotonicMs, Hook hook);
    // Runs `hook` once, on the first yield `delayMs` or more from now.
    void runAfter(std::int64_t delayMs, Hook hook);
    // Forgets every hook; safe from inside a hook.
    void clearHooks();

private:
    struct Entry {
        Hook hook;
        std::optional<std::int64_t> dueMs; // once-only when set
        bool running = false;
    };
    void runDueHooks();

    VirtualClock &clock_;
    int stepMs_;
    std::map<HookId, Entry> hooks_;
    HookId nextId_ = 1;
};

} // namespace ostrand
