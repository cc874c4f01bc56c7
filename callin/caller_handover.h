#pragma once

#include "platform/caller_reception.h"

#include <QPointer>
#include <QObject>
#include <mutex>
#include <optional>

namespace ostrand::callin {

// Where the listening thread leaves a station's newest caller for the
// station's own thread to take. A caller left and not yet taken when a newer
// one comes is closed: the newer connection wins.
class CallerHandover {
public:
    ~CallerHandover();
    // From the listening thread.
    void offer(PendingCaller caller);
    // From the station's thread.
    std::optional<PendingCaller> take();
    bool waiting() const;
    // An object living on the station's thread, whose thread is woken when a caller is left.
    void wakeThrough(QObject *waker);
    // Wakes the station's thread (to see a stop, say).
    void wake();

private:
    mutable std::mutex mutex_;
    std::optional<PendingCaller> caller_;
    QPointer<QObject> waker_;
};

} // namespace ostrand::callin
