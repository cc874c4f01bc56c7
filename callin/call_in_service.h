#pragma once

#include "callin/station_worker.h"
#include "collect/station_collector.h"
#include "collect/stations_file.h"

#include <QString>
#include <atomic>
#include <map>
#include <memory>
#include <vector>

namespace ostrand {
class CallerReception;
}

namespace ostrand::callin {

class CallerIdentification;

// "[HOST:]PORT" as --listen and [listen] take it; false with *problem set.
bool parseListenAddress(const QString &text, QString *host, quint16 *port, QString *problem);

// The collector meters' routers call: it listens, tells each caller's
// station from its first bytes or its address before anything is asked of
// the meter, and hands the connection to that station's thread, which
// collects it as its interval says. Runs on the calling thread's event loop.
class CallInService {
public:
    // `stations`: those that call in.
    CallInService(std::vector<collect::Station> stations, collect::CollectOptions options, StationNews news);
    ~CallInService();

    bool listen(const QString &host, quint16 port, QString *error);
    quint16 port() const;
    // Until `stop` is set; then every station's thread is stopped (an
    // operation under way is abandoned unconfirmed) and joined.
    void run(const std::atomic<bool> &stop);

private:
    std::vector<collect::Station> stations_;
    collect::CollectOptions options_;
    StationNews news_;
    std::unique_ptr<CallerIdentification> identification_;
    std::unique_ptr<CallerReception> reception_;
    std::map<int, std::unique_ptr<StationWorker>> workers_;
    std::atomic<bool> stopping_{false};
};

} // namespace ostrand::callin
