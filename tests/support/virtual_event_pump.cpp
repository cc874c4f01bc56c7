#include "virtual_event_pump.h"

#include <algorithm>
#include <vector>

namespace ostrand {

VirtualEventPump::VirtualEventPump(VirtualClock &clock, int stepMs) : clock_(clock), stepMs_(std::max(1, stepMs)) {}

void VirtualEventPump::yield(int maxWaitMs)
{
    // Even yield(0) lets a millisecond pass: a loop that never waits must still
    // reach its deadline in a test instead of hanging it.
    clock_.advance(std::max(1, std::min(stepMs_, maxWaitMs)));
    runDueHooks();
}

void VirtualEventPump::sleep(int ms) { clock_.advance(ms); }
void VirtualEventPump::onEachYield(Hook hook) { hooks_[nextId_++] = Entry{std::move(hook), std::nullopt}; }
void VirtualEventPump::runAt(std::int64_t monotonicMs, Hook hook) { hooks_[nextId_++] = Entry{std::move(hook), monotonicMs}; }
void VirtualEventPump::runAfter(std::int64_t delayMs, Hook hook) { runAt(clock_.monotonicMs() + delayMs, std::move(hook)); }
void VirtualEventPump::clearHooks() { hooks_.clear(); }

void VirtualEventPump::runDueHooks()
{
    // Hooks may add or remove hooks, or yield again: each id of a snapshot is looked up afresh.
    std::vector<HookId> ids;
    for (const auto &entry : hooks_)
        ids.push_back(entry.first);
    for (HookId id : ids) {
        auto it = hooks_.find(id);
        // Like a Qt timer, a hook whose handler is still running (it yielded) is not re-entered.
        if (it == hooks_.end() || it->second.running || (it->second.dueMs && clock_.monotonicMs() < *it->second.dueMs))
            continue;
        if (it->second.dueMs) {
            Hook once = std::move(it->second.hook);
            hooks_.erase(it);
            once();
            continue;
        }
        it->second.running = true;
        Hook each = it->second.hook; // the entry may be removed while it runs
        each();
        if ((it = hooks_.find(id)) != hooks_.end())
            it->second.running = false;
    }
}

} // namespace ostrand
