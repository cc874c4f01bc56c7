#include "line_worker.h"

#include "link/meter_link.h"
#include "link/serial_link.h"
#include "platform/qt_event_pump.h"
#include "platform/serial_port.h"
#include "platform/system_clock.h"

#include <QThread>

namespace ostrand {

// Hands what the link reports to the window's observer on the window's thread.
class LineWorker::ObserverRelay : public LinkObserver {
public:
    explicit ObserverRelay(LineWorker &worker) : worker_(worker) {}
    void requestSent(const QByteArray &frame, bool resend) override
    {
        worker_.publishState();
        worker_.toWindow([w = &worker_, frame, resend] {
            if (w->windowObserver_)
                w->windowObserver_->requestSent(frame, resend);
        });
    }
    void replyRead(const QByteArray &frame, bool crcOk) override
    {
        worker_.toWindow([w = &worker_, frame, crcOk] {
            if (w->windowObserver_)
                w->windowObserver_->replyRead(frame, crcOk);
        });
    }
    void exchangeFailed(const QByteArray &request, const LinkFailure &failure) override;

private:
    LineWorker &worker_;
};

struct LineWorker::Line {
    Line(SerialPort &port, Clock &clock, EventPump &pump, LineWorker &worker)
        : serial(port, clock, pump), link(serial), relay(worker)
    {
        link.setObserver(&relay);
    }
    // The parts a threaded line makes for itself, on its own thread.
    std::unique_ptr<SerialPort> ownPort;
    std::unique_ptr<SystemClock> ownClock;
    std::unique_ptr<QtEventPump> ownPump;
    SerialLink serial;
    MeterLink link;
    ObserverRelay relay;
};

void LineWorker::ObserverRelay::exchangeFailed(const QByteArray &request, const LinkFailure &failure)
{
    worker_.publishState();
    worker_.toWindow([w = &worker_, request, failure] {
        if (w->windowObserver_)
            w->windowObserver_->exchangeFailed(request, failure);
    });
}

LineWorker::LineWorker(PortMaker makePort, QObject *parent) : QObject(parent)
{
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("line"));
    context_ = new QObject;
    context_->moveToThread(thread_);
    thread_->start();
    // The port's notifiers belong to the thread that waits on them.
    QMetaObject::invokeMethod(
        context_,
        [this, makePort] {
            auto port = makePort();
            auto clock = std::make_unique<SystemClock>();
            auto pump = std::make_unique<QtEventPump>();
            line_ = std::make_unique<Line>(*port, *clock, *pump, *this);
            line_->ownPort = std::move(port);
            line_->ownClock = std::move(clock);
            line_->ownPump = std::move(pump);
            line_->serial.setStopFlag(&stopRunning_);
        },
        Qt::BlockingQueuedConnection);
}

LineWorker::LineWorker(SerialPort &port, Clock &clock, EventPump &pump, QObject *parent)
    : QObject(parent), line_(std::make_unique<Line>(port, clock, pump, *this)), inline_(true)
{
    line_->serial.setStopFlag(&stopRunning_);
}

LineWorker::~LineWorker()
{
    shutDown();
}

void LineWorker::shutDown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    requestStop();
    if (inline_) {
        inlineQueue_.clear();
        line_->serial.closePort();
        const std::lock_guard lock(mutex_);
        state_ = LineState{};
        return;
    }
    QMetaObject::invokeMethod(
        context_,
        [this] {
            line_->link.setObserver(nullptr);
            line_->serial.closePort();
            line_.reset();
        },
        Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete context_;
    delete thread_;
    const std::lock_guard lock(mutex_);
    state_ = LineState{};
}

void LineWorker::run(Job job)
{
    if (shutDown_)
        return;
    const long id = nextJobId_.fetch_add(1);
    ++pendingJobs_;
    emit stateChanged();
    if (inline_) {
        inlineQueue_.emplace_back(id, std::move(job));
        // A job given from inside a running one's wait waits its turn.
        if (inlineRunning_)
            return;
        inlineRunning_ = true;
        while (!inlineQueue_.empty()) {
            auto [nextId, next] = std::move(inlineQueue_.front());
            inlineQueue_.pop_front();
            runNow(next, nextId);
        }
        inlineRunning_ = false;
        return;
    }
    QMetaObject::invokeMethod(context_, [this, id, job = std::move(job)] { runNow(job, id); }, Qt::QueuedConnection);
}

void LineWorker::runNow(const Job &job, long id)
{
    stopRunning_ = id < stopBefore_.load();
    line_->serial.setSettings(settings());
    if (!stopRunning_)
        job(line_->link);
    stopRunning_ = false;
    --pendingJobs_;
    publishState();
}

void LineWorker::toWindow(std::function<void()> work)
{
    if (inline_)
        work();
    else
        QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void LineWorker::requestStop()
{
    stopBefore_ = nextJobId_.load();
    if (pendingJobs_ > 0)
        stopRunning_ = true;
}

void LineWorker::setSettings(const LinkSettings &settings)
{
    const std::lock_guard lock(mutex_);
    settings_ = settings;
}

LinkSettings LineWorker::settings() const
{
    const std::lock_guard lock(mutex_);
    return settings_;
}

LineState LineWorker::state() const
{
    const std::lock_guard lock(mutex_);
    LineState state = state_;
    state.busy = busy();
    return state;
}

void LineWorker::publishState()
{
    // Called on the line's thread (or inline): the port is read where it lives.
    if (!line_)
        return;
    const SerialPort &port = line_->serial.port();
    {
        const std::lock_guard lock(mutex_);
        state_.open = port.isOpen();
        state_.device = state_.open ? port.deviceName() : QString();
    }
    toWindow([this] { emit stateChanged(); });
}

} // namespace ostrand
