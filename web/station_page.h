#pragma once

#include "collect/stations_file.h"
#include "health/station_health.h"
#include "store/store_records.h"

#include <QByteArray>
#include <QDateTime>
#include <optional>

namespace ostrand::web {

// Days the station page shows: today in the station's zone and the six before it.
constexpr int kStationPageDays = 7;

// The first instant the station page shows: the station's midnight six days before today.
QDateTime stationPageFrom(const collect::Station &station, const QDateTime &nowUtc);

// A station's page: its state, the hydrograph of its last days as SVG, their
// daily summary and gaps, the scattergraph when it logs depth and velocity,
// its last collections, and links to download the days in each export format.
// nullopt with *error set when the store would not answer.
std::optional<QByteArray> stationPage(const collect::Station &station,
                                      const collect::StationHealth &health,
                                      collect::StoreReader &store, const QDateTime &nowUtc,
                                      QString *error);

} // namespace ostrand::web
