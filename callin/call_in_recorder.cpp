#include "call_in_recorder.h"

#include "cumulative/call_in_line_file.h"
#include "platform/clock.h"
#include "store/reading_store.h"

#include <QSet>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace ostrand::callin {
namespace {

// A station's newest news and where it goes without a store.
struct Noted {
    collect::CallInState state;
    QString output;
};

} // namespace

struct CallInRecorder::Shared {
    std::optional<collect::StoreLocation> location;
    Complaint complain;

    std::mutex mutex;
    std::condition_variable changed;
    std::map<QString, Noted> noted; // by station; what the writer has not taken yet
    bool stopping = false;
    bool finished = false;
    bool failing = false; // a failure was told, not yet one success since
    std::chrono::steady_clock::time_point retryAt{};

    // The writer's own:
    std::unique_ptr<collect::ReadingStore> store;
    QSet<QString> failedFiles;

    void run();
    // What could not be written, for the next try.
    std::map<QString, Noted> write(std::map<QString, Noted> batch);
    bool writeToStore(const std::map<QString, Noted> &batch);
};

void CallInRecorder::Shared::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        const auto due = [&] { return stopping || (!noted.empty() && std::chrono::steady_clock::now() >= retryAt); };
        while (!due()) {
            if (noted.empty())
                changed.wait(lock);
            else
                changed.wait_until(lock, retryAt);
        }
        if (noted.empty() && stopping)
            break;
        std::map<QString, Noted> batch = std::move(noted);
        noted.clear();
        lock.unlock();
        std::map<QString, Noted> left = write(std::move(batch));
        lock.lock();
        // News that came meanwhile are newer than what failed.
        for (auto &[station, n] : left)
            noted.emplace(station, std::move(n));
        retryAt = left.empty() ? std::chrono::steady_clock::time_point{}
                               : std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetryMs);
        // Stopping, the last try has been made.
        if (stopping && !left.empty())
            break;
    }
    finished = true;
    changed.notify_all();
}

std::map<QString, Noted> CallInRecorder::Shared::write(std::map<QString, Noted> batch)
{
    if (location)
        return writeToStore(batch) ? std::map<QString, Noted>{} : batch;
    std::map<QString, Noted> left;
    for (auto &[station, n] : batch) {
        QString error;
        if (collect::recordCallInLine(n.output, n.state, &error)) {
            failedFiles.remove(station);
            continue;
        }
        // Told once per station until its file is written again.
        if (!failedFiles.contains(station)) {
            failedFiles.insert(station);
            complain(QStringLiteral("%1: its call-in line was not recorded: %2").arg(station, error));
        }
        left.emplace(station, std::move(n));
    }
    return left;
}

bool CallInRecorder::Shared::writeToStore(const std::map<QString, Noted> &batch)
{
    QString error;
    if (!store)
        store = collect::openReadingStore(*location, &error);
    std::vector<collect::CallInState> states;
    for (const auto &[station, n] : batch)
        states.push_back(n.state);
    if (store && store->recordCallInStates(states, &error)) {
        if (failing)
            complain(QStringLiteral("the call-in lines are recorded in %1 again").arg(store->name()));
        failing = false;
        return true;
    }
    // A failure may leave the connection in any state: the next try opens another.
    store.reset();
    if (!failing)
        complain(QStringLiteral("the call-in lines were not recorded (tried again every %1 s): %2")
                     .arg(kRetryMs / 1000)
                     .arg(error));
    failing = true;
    return false;
}

CallInRecorder::CallInRecorder(std::optional<collect::StoreLocation> store, const Clock &clock, Complaint complain)
    : shared_(std::make_shared<Shared>()), clock_(clock)
{
    shared_->location = std::move(store);
    shared_->complain = std::move(complain);
    // The thread holds the shared part, so one left behind at the end still has it.
    writer_ = std::thread([shared = shared_] { shared->run(); });
}

CallInRecorder::~CallInRecorder()
{
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->stopping = true;
    shared_->retryAt = {};
    shared_->changed.notify_all();
    const bool done = shared_->changed.wait_for(lock, std::chrono::milliseconds(kLastWriteMs),
                                                [&] { return shared_->finished; });
    lock.unlock();
    // A store that does not answer is left to its own time limits; the process is ending.
    if (done)
        writer_.join();
    else
        writer_.detach();
}

void CallInRecorder::note(const collect::Station &station, bool connected, const QString &peer, qint64 sinceUtcMs,
                          qint64 heardUtcMs)
{
    const auto utc = [](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC); };
    Noted n{{station.name, connected, peer, utc(sinceUtcMs), utc(heardUtcMs), utc(clock_.utcMs())}, station.output};
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->noted[station.name] = std::move(n);
    shared_->changed.notify_all();
}

} // namespace ostrand::callin
