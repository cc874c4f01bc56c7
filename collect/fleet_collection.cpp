#include "fleet_collection.h"

#include "store/outbox_backlog.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QThread>
#include <map>
#include <memory>
#include <mutex>

namespace ostrand::collect {

std::vector<StationReport> collectFleet(const std::vector<Station> &stations, const CollectOptions &options,
                                        const std::function<void(const StationReport &)> &finished)
{
    std::vector<StationReport> reports(stations.size());
    QMap<QString, std::vector<size_t>> lines;
    for (size_t i = 0; i < stations.size(); ++i)
        lines[stations[i].portKey(options.comLinkDirs)].push_back(i);

    std::mutex reporting;
    std::vector<std::unique_ptr<QThread>> threads;
    for (const std::vector<size_t> &line : std::as_const(lines)) {
        // Each thread builds its own port and waits, so their Qt objects live
        // and get their events on the thread that uses them.
        threads.emplace_back(QThread::create([&, line] {
            PortCollector collector(options);
            std::vector<size_t> pending = line;
            // Since each station was first found held elsewhere: its wait counts in its time.
            std::map<size_t, QElapsedTimer> waiting;
            while (!pending.empty()) {
                std::vector<size_t> claimedElsewhere;
                for (const size_t i : pending) {
                    StationReport report = collector.collect(stations[i]);
                    const qint64 waitedMs = waiting.count(i) ? waiting[i].elapsed() : 0;
                    // Asked again until its collector commits (then it is skipped) or dies (then it
                    // is ours), or until the wait is over.
                    if (report.claimedElsewhere && waitedMs < options.claimWaitMs) {
                        if (!waiting.count(i))
                            waiting[i].start();
                        claimedElsewhere.push_back(i);
                        continue;
                    }
                    if (report.claimedElsewhere)
                        report.skipped = heldElsewhereText(waitedMs);
                    report.seconds += waitedMs / 1000.0;
                    const std::lock_guard<std::mutex> lock(reporting);
                    reports[i] = report;
                    if (finished)
                        finished(report);
                }
                if (!claimedElsewhere.empty())
                    QThread::msleep(kClaimPollMs);
                pending = claimedElsewhere;
            }
        }));
        threads.back()->start();
    }
    for (const auto &thread : threads)
        thread->wait();
    return reports;
}

RunResult reportResult(const StationReport &report)
{
    return !report.skipped.isEmpty() ? RunResult::Skipped : report.succeeded ? RunResult::Ok : RunResult::Failed;
}

QString reportLine(const StationReport &report, bool withStore)
{
    QString stored;
    if (withStore) {
        stored = QStringLiteral(", %1 new readings").arg(report.newReadings);
        if (report.duplicates > 0)
            stored += QStringLiteral(", %1 duplicates").arg(report.duplicates);
        if (report.clashes > 0)
            stored += QStringLiteral(", %1 clashes").arg(report.clashes);
        if (report.skippedHourStamps > 0)
            stored += QStringLiteral(", %1 in the skipped hour").arg(report.skippedHourStamps);
    }
    return QStringLiteral("%1: %2, %3 new rows%4, %5 s")
        .arg(report.name, runResultText(reportResult(report)))
        .arg(report.newRows)
        .arg(stored)
        .arg(report.seconds, 0, 'f', 1);
}

QByteArray reportJson(const std::vector<StationReport> &reports, bool withStore)
{
    QJsonArray stations;
    for (const StationReport &report : reports) {
        QJsonObject station{
            {QStringLiteral("name"), report.name},
            {QStringLiteral("result"), runResultText(reportResult(report))},
            {QStringLiteral("newRows"), report.newRows},
            {QStringLiteral("seconds"), report.seconds},
            {QStringLiteral("attempts"), report.attempts},
            {QStringLiteral("recordsMaybeLost"), report.recordsMaybeLost},
            {QStringLiteral("errors"), QJsonArray::fromStringList(report.errors)},
        };
        if (withStore) {
            station.insert(QStringLiteral("newReadings"), report.newReadings);
            station.insert(QStringLiteral("duplicates"), report.duplicates);
            station.insert(QStringLiteral("clashes"), report.clashes);
            station.insert(QStringLiteral("skippedHourStamps"), report.skippedHourStamps);
        }
        if (!report.skipped.isEmpty())
            station.insert(QStringLiteral("reason"), report.skipped);
        if (report.unpublished)
            station.insert(QStringLiteral("unpublished"), unpublishedJson(*report.unpublished));
        stations.append(station);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("stations"), stations}}).toJson();
}

} // namespace ostrand::collect
