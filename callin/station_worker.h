#pragma once

#include "callin/caller_handover.h"
#include "collect/station_collector.h"
#include "collect/stations_file.h"

#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

namespace ostrand::callin {

// What a station's thread tells the listener, from that thread.
struct StationNews {
    std::function<void(const collect::Station &, const collect::StationReport &)> collected;
    std::function<void(const QString &line)> log;
    // Connected or not, the caller's address (of the call that ended, when
    // not), since when (the call's start, or its end) and when last heard, in UTC ms.
    std::function<void(const collect::Station &, bool connected, const QString &peer, qint64 sinceUtcMs,
                       qint64 heardUtcMs)>
        state;
};

// The thread of one station whose meter calls in: it holds the station's
// connection, collects when the station is due (at once on a connect when its
// last success is older than its interval, then every interval while the
// connection stays up) and keeps the line heard between collections. Threads
// exist for known stations alone, so a caller cannot make more of them.
class StationWorker {
public:
    StationWorker(collect::Station station, collect::CollectOptions options, const std::atomic<bool> &stop,
                  StationNews news);
    ~StationWorker();

    // A caller known to be this station's, from the listening thread.
    void offer(PendingCaller caller) { handover_.offer(std::move(caller)); }
    void wake() { handover_.wake(); }
    void wait() { thread_->wait(); }

private:
    void run();

    collect::Station station_;
    collect::CollectOptions options_;
    const std::atomic<bool> &stop_;
    StationNews news_;
    CallerHandover handover_;
    std::unique_ptr<QThread> thread_;
};

} // namespace ostrand::callin
