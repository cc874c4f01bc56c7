#include "call_in_run.h"

#include "callin/call_in_recorder.h"
#include "callin/call_in_service.h"
#include "cli_common.h"
#include "collect/fleet_collection.h"
#include "exit_status.h"
#include "platform/save_file.h"
#include "platform/system_clock.h"

#include <QMap>
#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/resource.h>

namespace ostrand::cli {
namespace {

// Each caller holds a descriptor: as many as the system lets this process have.
void raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int runCallInCollection(const CallInRun &run)
{
    const QString address = run.listen.isEmpty() ? run.file.listenAddress : run.listen;
    if (address.isEmpty())
        return usageError(QStringLiteral("--listen needs [HOST:]PORT, here or in the stations file's [listen]"));
    QString host;
    quint16 port = 0;
    QString problem;
    if (!callin::parseListenAddress(address, &host, &port, &problem))
        return usageError(QStringLiteral("--listen: ") + problem);
    if (run.file.stations.empty())
        return usageError(QStringLiteral("--listen: no station of the stations file calls in (call-in or call-in-from)"));

    collect::CollectOptions options = run.options;
    // A station that failed is collected again when its router next calls or its interval comes round.
    options.retries = 0;
    options.claimSinceEachOperation = true;
    std::mutex reporting;
    QMap<QString, collect::StationReport> lastReports;
    callin::StationNews news;
    news.collected = [&](const collect::Station &, const collect::StationReport &report) {
        run.finished(report);
        const std::lock_guard<std::mutex> lock(reporting);
        lastReports[report.name] = report;
    };
    news.log = [&](const QString &line) {
        const std::lock_guard<std::mutex> lock(reporting);
        printDetail(line);
    };
    // Made before the service and so gone after it: the news of every call
    // ended by the stop are written before the listener ends.
    SystemClock clock;
    callin::CallInRecorder recorder(options.store, clock,
                                    [](const QString &line) { printDetail(QStringLiteral("ostrand-cli: ") + line); });
    news.state = [&recorder](const collect::Station &station, bool connected, const QString &peer, qint64 sinceUtcMs,
                             qint64 heardUtcMs) { recorder.note(station, connected, peer, sinceUtcMs, heardUtcMs); };
    raiseOpenFileLimit();
    std::atomic<bool> &stopSignalled = catchStopSignals();
    callin::CallInService service(run.file.stations, options, news);
    QString error;
    if (!service.listen(host, port, &error)) {
        printDetail(QStringLiteral("ostrand-cli: ") + error);
        return code(ExitStatus::FileFailed);
    }
    printLine(QStringLiteral("listening on %1:%2 for %3 stations that call in")
                  .arg(host.isEmpty() ? QStringLiteral("*") : host)
                  .arg(service.port())
                  .arg(run.file.stations.size()));
    service.run(stopSignalled);

    std::vector<collect::StationReport> reports(lastReports.begin(), lastReports.end());
    if (!run.reportPath.isEmpty()
        && !saveFile(run.reportPath, collect::reportJson(reports, run.file.store.has_value()), &error)) {
        printDetail(QStringLiteral("ostrand-cli: the report was not written: %1").arg(error));
        return code(ExitStatus::FileFailed);
    }
    return code(ExitStatus::Done);
}

} // namespace ostrand::cli
