#pragma once

#include "collect/stations_file.h"

#include <QStringList>
#include <memory>

namespace ostrand {
class MeterLine;
}

namespace ostrand::collect {

// How one station's collection ended.
struct StationReport {
    QString name;
    bool succeeded = false;
    int newRows = 0;
    int attempts = 0;
    int recordsMaybeLost = 0; // the log was overwritten past what was collected last
    double seconds = 0;
    QStringList errors; // why each failed attempt failed, and warnings of a good one
    QString skipped;    // why the station was not tried at all; empty when it was
};

struct CollectOptions {
    int retries = 2;             // further attempts after a failed one
    int retryPauseMs = 10000;    // between attempts: a meter or a modem busy now may not be soon
    QStringList comLinkDirs;     // where COMn links are looked for
};

// Collects stations that share one line, one after another, on the calling
// thread; the port, the clock and the waits are its own, so collectors of
// other lines can run on other threads at the same time.
class PortCollector {
public:
    explicit PortCollector(const CollectOptions &options);
    ~PortCollector();

    // A "Since Last Time" download (a full one while the output does not exist),
    // its new rows appended to the output, then the meter's confirmation; the
    // whole retried as the options say. The port is closed, and a dialled line
    // hung up, before it returns.
    StationReport collect(const Station &station);

private:
    bool attempt(const Station &station, StationReport &report, bool *retryable);
    bool download(const Station &station, StationReport &report, bool *retryable);
    void hangUp();

    CollectOptions options_;
    std::unique_ptr<MeterLine> line_;
};

} // namespace ostrand::collect
