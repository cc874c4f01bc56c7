#pragma once

#include "event_pump.h"

namespace ostrand {

// EventPump over the Qt event loop of the calling (GUI) thread.
class QtEventPump : public EventPump {
public:
    // Runs what is pending; if nothing was, blocks until something arrives or
    // `maxWaitMs` passed. Safe to call from inside a handler that a yield ran.
    void yield(int maxWaitMs = 10) override;
    // Blocks the thread for `ms`; no event is handled meanwhile.
    void sleep(int ms) override;
};

} // namespace ostrand
