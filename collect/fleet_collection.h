#pragma once

#include "collect/station_collector.h"
#include "store/run_result.h"

#include <QByteArray>
#include <functional>
#include <vector>

namespace ostrand::collect {

// Collects every station: one thread per line, the stations of a line one
// after another in file order. `finished` is called, never by two threads at
// once, as each station ends. The reports come back in the stations' order.
std::vector<StationReport> collectFleet(const std::vector<Station> &stations, const CollectOptions &options,
                                        const std::function<void(const StationReport &)> &finished);

// Skipped when the station was not tried at all, else ok or failed.
RunResult reportResult(const StationReport &report);

// The line printed for a station: name, result, new rows, seconds; with a
// store, its new readings and any duplicates, clashes and stamps in a skipped hour.
QString reportLine(const StationReport &report, bool withStore = false);

// The reports as a JSON document, error texts included; a station not tried
// at all has the result "skipped" and a "reason". With a store, each also
// has "newReadings", "duplicates", "clashes" and "skippedHourStamps", and with
// readings waiting to be published "unpublished" ({"readings", "since"}).
QByteArray reportJson(const std::vector<StationReport> &reports, bool withStore = false);

} // namespace ostrand::collect
