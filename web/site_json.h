#pragma once

#include "web/fleet_rows.h"

#include <QByteArray>
#include <QJsonObject>

namespace ostrand::web {

// One station's row as /api/stations gives it and the fleet page redraws it
// from: times in UTC ISO 8601 (null when none), the hourly bar and the days.
QJsonObject stationJson(const FleetRow &row);
// The same as compact JSON text.
QByteArray stationJsonText(const FleetRow &row);

// The fleet's rows, worst first, with now and the stale limit.
QByteArray stationsJson(const std::vector<FleetRow> &rows, const QDateTime &nowUtc,
                        qint64 staleAfterSeconds);

} // namespace ostrand::web
