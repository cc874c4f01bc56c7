#include "outbox_backlog.h"

#include "store/time_text.h"

#include <algorithm>

namespace ostrand::collect {

std::optional<OutboxBacklog> backlogOf(const std::vector<OutboxBacklog> &backlogs, const QString &station)
{
    const auto found = std::find_if(backlogs.begin(), backlogs.end(), [&](const OutboxBacklog &b) {
        return b.station == station && b.readings > 0;
    });
    return found != backlogs.end() ? std::optional(*found) : std::nullopt;
}

QString unpublishedText(const OutboxBacklog &backlog)
{
    return (backlog.readings == 1 ? QStringLiteral("1 reading waits to be published")
                                  : QStringLiteral("%1 readings wait to be published").arg(backlog.readings))
           + QStringLiteral(", since %1").arg(utcText(backlog.oldestQueuedUtc));
}

QJsonObject unpublishedJson(const OutboxBacklog &backlog)
{
    return {{QStringLiteral("readings"), double(backlog.readings)},
            {QStringLiteral("since"), utcText(backlog.oldestQueuedUtc)}};
}

} // namespace ostrand::collect
