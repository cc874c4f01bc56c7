#include "qt_event_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace ostrand {

void QtEventPump::yield(int maxWaitMs)
{
    if (!QCoreApplication::instance()) {
        // Without an event loop there is nothing to dispatch; still honour the wait.
        sleep(maxWaitMs);
        return;
    }
    if (maxWaitMs <= 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // The timer only exists to wake the blocking wait below. It lives on this
    // stack frame, so when we return it dies with it and cannot fire into a
    // later or an outer wait; a nested yield gets its own.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(maxWaitMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventPump::sleep(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

} // namespace ostrand
