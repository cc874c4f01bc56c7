#pragma once

#include "link/link_observer.h"
#include "link/link_settings.h"

#include <QObject>
#include <QSemaphore>
#include <QString>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace ostrand {

class Clock;
class EventPump;
class MeterLine;
class MeterLink;
class SerialPort;

// What the status bar shows of the line, as the worker last saw it.
struct LineState {
    bool open = false;
    bool busy = false;
    QString device;   // the device open now; empty when closed or not known
    int portNumber = 0; // the COM number the open port was opened as, whatever was chosen since
    QString baudRate;   // and its speed
    bool lost = false;      // the open line went away under it (adapter pulled, server gone)
    bool modemCall = false; // a modem dial connected and the port has stayed open since
};

// The window's line: the port, its clock and event pump, and the link over
// them, worked on a thread of its own. Every exchange runs there, one job at a
// time in the order given, so no dialog or repaint in the window can hold an
// exchange past its time, and no wait for the meter holds the window.
//
// Tests on virtual time run the same jobs on their own thread instead: a job
// then runs when given (after the one running, if any), and what it sends to
// the window arrives at once.
class LineWorker : public QObject {
    Q_OBJECT
public:
    using PortMaker = std::function<std::unique_ptr<SerialPort>()>;
    using Job = std::function<void(MeterLink &link)>;

    // The line on a thread of its own; `makePort` runs there, with the clock
    // and the event pump of that thread.
    explicit LineWorker(PortMaker makePort, QObject *parent = nullptr);
    // The line on the caller's thread, over the test's port, clock and pump.
    LineWorker(SerialPort &port, Clock &clock, EventPump &pump, QObject *parent = nullptr);
    // Stops what runs, waits for it and closes the port.
    ~LineWorker() override;

    // Queues `job`; it runs once those before it have ended.
    void run(Job job);
    // Runs `work` on the window's thread (later, unless inline).
    void toWindow(std::function<void()> work);

    // A job is queued or running.
    bool busy() const { return pendingJobs_.load() > 0; }
    // Ends the jobs queued or running now at their next exchange or inside
    // their waits; later jobs run as usual.
    void requestStop();
    // For the running job's waits: true once it was asked to stop.
    const std::atomic<bool> &stopFlag() const { return stopRunning_; }

    // The settings the next exchange of the next job uses.
    void setSettings(const LinkSettings &settings);
    LinkSettings settings() const;
    LineState state() const;
    // Reads the port's state again where it lives; stateChanged() follows.
    void refreshState();
    // From a job: the modem call its dial made is up. It ends with the port.
    void markModemCall();

    // Frames and failures as they happen on the line, delivered on the window's thread.
    void setObserver(LinkObserver *observer) { windowObserver_ = observer; }

    // Stops and joins the thread, closing the port there; jobs given later are dropped.
    void shutDown();

signals:
    void stateChanged();
    // A job has ended (on the window's thread).
    void jobFinished();

private:
    class ObserverRelay;
    // Hands the line's reports to the relay and Stop's flag to its waits.
    void attachLine();
    void dispatch(long id, Job job);
    void runNow(const Job &job, long id);
    void tearDown();
    void publishState();

    // The relay outlives the line that reports to it.
    std::unique_ptr<ObserverRelay> relay_;
    std::unique_ptr<MeterLine> line_;
    QThread *thread_ = nullptr;
    QObject *context_ = nullptr; // lives on the line's thread; jobs are queued to it
    bool inline_ = false;
    // Jobs given and not yet begun, on the line's thread (or the caller's, inline).
    std::deque<std::pair<long, Job>> queue_;
    bool running_ = false;
    bool teardownPending_ = false;
    QSemaphore tornDown_;

    std::atomic<int> pendingJobs_{0};
    std::atomic<long> nextJobId_{0};
    std::atomic<long> stopBefore_{0};
    std::atomic<bool> stopRunning_{false};
    bool shutDown_ = false;

    mutable std::mutex mutex_; // guards settings_, state_
    LinkSettings settings_;
    LineState state_;
    int openCountSeen_ = 0; // the line's opens as of the last publishState()
    int modemCallOpenCount_ = -1; // the open the modem call runs on; -1 when none
    LinkObserver *windowObserver_ = nullptr;
};

} // namespace ostrand
