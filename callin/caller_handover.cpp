#include "caller_handover.h"

#include <QMetaObject>
#include <unistd.h>

namespace ostrand::callin {

CallerHandover::~CallerHandover()
{
    if (caller_)
        ::close(caller_->descriptor);
}

void CallerHandover::offer(PendingCaller caller)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (caller_)
            ::close(caller_->descriptor);
        caller_ = std::move(caller);
    }
    wake();
}

std::optional<PendingCaller> CallerHandover::take()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    std::optional<PendingCaller> taken = std::move(caller_);
    caller_.reset();
    return taken;
}

bool CallerHandover::waiting() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return caller_.has_value();
}

void CallerHandover::wakeThrough(QObject *waker)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    waker_ = waker;
}

void CallerHandover::wake()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    // An event posted to the thread ends its wait for events at once.
    if (waker_)
        QMetaObject::invokeMethod(waker_.data(), [] {}, Qt::QueuedConnection);
}

} // namespace ostrand::callin
