#pragma once

namespace ostrand {

// How a waiting operation gives the window its turn. Everything runs on one
// thread, so a wait that does not yield freezes the window and one that spins
// burns a core; yield() does neither.
class EventPump {
public:
    virtual ~EventPump() = default;

    // Processes pending events (timer ticks and clicks may run nested here),
    // sleeping until an event arrives or `maxWaitMs` has passed.
    virtual void yield(int maxWaitMs = 10) = 0;
    // Waits without processing any event: the window stays frozen, the CPU idle.
    virtual void sleep(int ms) = 0;
};

} // namespace ostrand
