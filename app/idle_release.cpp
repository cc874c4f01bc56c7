#include "idle_release.h"

#include "app/line_worker.h"
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "platform/clock.h"

#include <QTimer>

namespace ostrand {

IdleRelease::IdleRelease(LineWorker &line, const Clock &clock, QObject *parent)
    : QObject(parent), line_(line), clock_(clock), timer_(new QTimer(this))
{
    timer_->setObjectName(QStringLiteral("IdleReleaseTimer"));
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &IdleRelease::check);
    // Every operation is one or more jobs; the display's poll is one every 750 ms.
    connect(&line_, &LineWorker::jobFinished, this, &IdleRelease::onJobFinished);
}

void IdleRelease::setEnabled(bool on)
{
    enabled_ = on;
    if (!on) {
        timer_->stop();
        return;
    }
    // Counted from now: a port opened long ago is not let go the moment the box is ticked.
    lastJobEndMs_ = clock_.monotonicMs();
    timer_->start(kIdleMs);
}

void IdleRelease::onJobFinished()
{
    lastJobEndMs_ = clock_.monotonicMs();
    if (enabled_)
        timer_->start(kIdleMs);
}

void IdleRelease::check()
{
    if (!enabled_)
        return;
    if (line_.busy()) {
        timer_->start(kIdleMs); // its end starts the count again
        return;
    }
    const std::int64_t idleMs = clock_.monotonicMs() - lastJobEndMs_;
    if (idleMs < kIdleMs) {
        timer_->start(int(kIdleMs - idleMs));
        return;
    }
    const LineState state = line_.state();
    if (!state.open || state.modemCall)
        return; // a call's hang-up is a job of its own, which starts the count again
    line_.run([](MeterLink &link) { link.serial().closePort(); });
}

} // namespace ostrand
