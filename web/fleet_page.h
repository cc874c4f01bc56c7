#pragma once

#include "web/fleet_rows.h"

#include <QByteArray>

namespace ostrand::web {

// "5.2 h", "12 min", "3.0 d": how long ago, for a person.
QString ageText(qint64 seconds);

// The fleet page: a row per station, worst first, with a filter by name and
// by state, redrawn every minute from /api/stations by its own inline script.
QByteArray fleetPage(const std::vector<FleetRow> &rows, const QDateTime &nowUtc);

} // namespace ostrand::web
