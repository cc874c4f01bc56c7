#pragma once

#include <QObject>
#include <cstdint>

class QTimer;

namespace ostrand {

class Clock;
class LineWorker;

// Lets the port go when the window has used it for nothing for a while, so
// another program on this machine (a scheduled collection, a terminal) can
// reach the meter between a technician's operations. The next operation opens
// it again. A modem call that is up keeps it: closing would hang the call up.
class IdleRelease : public QObject {
    Q_OBJECT
public:
    static constexpr int kIdleMs = 5000;

    // `clock` is the window's: the idle time is measured on it, the timer only wakes the check.
    IdleRelease(LineWorker &line, const Clock &clock, QObject *parent = nullptr);

    void setEnabled(bool on);
    bool enabled() const { return enabled_; }

private:
    void onJobFinished();
    void check();

    LineWorker &line_;
    const Clock &clock_;
    QTimer *timer_ = nullptr;
    bool enabled_ = false;
    std::int64_t lastJobEndMs_ = 0;
};

} // namespace ostrand
