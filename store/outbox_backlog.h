#pragma once

#include "store/store_records.h"

#include <QJsonObject>
#include <QString>
#include <optional>
#include <vector>

namespace ostrand::collect {

// The station's backlog among `backlogs`; none when nothing of it waits.
std::optional<OutboxBacklog> backlogOf(const std::vector<OutboxBacklog> &backlogs, const QString &station);

// "288 readings wait to be published, since 2026-12-07T06:00:00Z": for the
// report lines of status and collect alike.
QString unpublishedText(const OutboxBacklog &backlog);

// {"readings": 288, "since": "2026-12-07T06:00:00Z"}: the same for a program.
QJsonObject unpublishedJson(const OutboxBacklog &backlog);

} // namespace ostrand::collect
