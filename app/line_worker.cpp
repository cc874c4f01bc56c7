#include "line_worker.h"

#include "line/meter_line.h"
#include "link/serial_link.h"
#include "platform/serial_port.h"

#include <QThread>
#include <QSemaphore>

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

void LineWorker::ObserverRelay::exchangeFailed(const QByteArray &request, const LinkFailure &failure)
{
    worker_.publishState();
    worker_.toWindow([w = &worker_, request, failure] {
        if (w->windowObserver_)
            w->windowObserver_->exchangeFailed(request, failure);
    });
}

LineWorker::LineWorker(PortMaker makePort, QObject *parent)
    : QObject(parent), relay_(std::make_unique<ObserverRelay>(*this))
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
            line_ = std::make_unique<MeterLine>(makePort());
            attachLine();
        },
        Qt::BlockingQueuedConnection);
}

LineWorker::LineWorker(SerialPort &port, Clock &clock, EventPump &pump, QObject *parent)
    : QObject(parent), relay_(std::make_unique<ObserverRelay>(*this)),
      line_(std::make_unique<MeterLine>(port, clock, pump)), inline_(true)
{
    attachLine();
}

void LineWorker::attachLine()
{
    line_->link().setObserver(relay_.get());
    line_->serial().setStopFlag(&stopRunning_);
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
        queue_.clear();
        line_->close();
        const std::lock_guard lock(mutex_);
        state_ = LineState{};
        return;
    }
    // Run inside a job's wait, the line would go from under it: the job, told
    // to stop, ends first and the line goes after it.
    QMetaObject::invokeMethod(context_, [this] {
        if (running_)
            teardownPending_ = true;
        else
            tearDown();
    });
    tornDown_.acquire();
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
    if (inline_)
        dispatch(id, std::move(job));
    else
        QMetaObject::invokeMethod(context_, [this, id, job = std::move(job)]() mutable { dispatch(id, std::move(job)); },
                                  Qt::QueuedConnection);
}

void LineWorker::dispatch(long id, Job job)
{
    // A job's waits let the line's events run, this one among them: a job
    // given meanwhile waits its turn instead of running inside the other.
    queue_.emplace_back(id, std::move(job));
    if (running_)
        return;
    running_ = true;
    while (!queue_.empty()) {
        auto [nextId, next] = std::move(queue_.front());
        queue_.pop_front();
        runNow(next, nextId);
    }
    running_ = false;
    if (teardownPending_)
        tearDown();
}

void LineWorker::tearDown()
{
    teardownPending_ = false;
    queue_.clear();
    line_->link().setObserver(nullptr);
    line_->close();
    line_.reset();
    tornDown_.release();
}

void LineWorker::runNow(const Job &job, long id)
{
    stopRunning_ = id < stopBefore_.load();
    line_->serial().setSettings(settings());
    if (!stopRunning_)
        job(line_->link());
    stopRunning_ = false;
    --pendingJobs_;
    publishState();
    toWindow([this] { emit jobFinished(); });
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

void LineWorker::refreshState()
{
    if (inline_)
        publishState();
    else if (!shutDown_)
        QMetaObject::invokeMethod(context_, [this] { publishState(); }, Qt::QueuedConnection);
}

void LineWorker::markModemCall()
{
    // On the line's thread, inside the dial's job.
    if (!line_ || !line_->port().isOpen())
        return;
    const std::lock_guard lock(mutex_);
    modemCallOpenCount_ = line_->serial().openCount();
}

void LineWorker::publishState()
{
    // Called on the line's thread (or inline): the port is read where it lives.
    if (!line_)
        return;
    const SerialPort &port = line_->port();
    const SerialLink &serial = line_->serial();
    {
        const std::lock_guard lock(mutex_);
        state_.open = port.isOpen();
        state_.device = state_.open ? port.deviceName() : QString();
        state_.lost = port.lineLost();
        // A call lives on the open it was dialled on: any close or reopen ended it.
        if (modemCallOpenCount_ >= 0 && (!state_.open || serial.openCount() != modemCallOpenCount_))
            modemCallOpenCount_ = -1;
        state_.modemCall = modemCallOpenCount_ >= 0;
        // Each job runs on the settings it was given, and every job ends here:
        // a port opened since the last look was opened on the settings it ran with.
        if (state_.open && serial.openCount() != openCountSeen_) {
            openCountSeen_ = serial.openCount();
            state_.portNumber = serial.settings().portNumber;
            state_.baudRate = serial.settings().baudRate;
        }
    }
    toWindow([this] { emit stateChanged(); });
}

} // namespace ostrand
