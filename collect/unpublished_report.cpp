#include "unpublished_report.h"

#include "store/outbox_backlog.h"
#include "store/store_open.h"

namespace ostrand::collect {

bool addUnpublished(std::vector<StationReport> &reports, const StoreLocation &store, QString *error)
{
    const auto reader = openStoreReader(store, error);
    if (!reader)
        return false;
    const auto backlogs = reader->outboxBacklog(error);
    if (!backlogs)
        return false;
    for (StationReport &report : reports)
        report.unpublished = backlogOf(*backlogs, report.name);
    return true;
}

QStringList unpublishedLines(const std::vector<StationReport> &reports)
{
    QStringList lines;
    for (const StationReport &report : reports) {
        if (report.unpublished)
            lines << QStringLiteral("%1: %2").arg(report.name, unpublishedText(*report.unpublished));
    }
    return lines;
}

} // namespace ostrand::collect
