#pragma once

#include "collect/station_collector.h"
#include "collect/stations_file.h"

#include <functional>

namespace ostrand::cli {

// A collect --listen run: the stations that call in, collected as their routers call.
struct CallInRun {
    const collect::StationsFile &file; // its stations are those that call in
    collect::CollectOptions options;
    QString listen; // [HOST:]PORT; empty: the stations file's [listen] address
    QString reportPath;
    std::function<void(const collect::StationReport &)> finished; // from any station's thread
};

// Listens until SIGTERM or SIGINT, then writes the report (each station's
// last collection); the exit status.
int runCallInCollection(const CallInRun &run);

} // namespace ostrand::cli
