#include "cli_common.h"
#include "call_in_run.h"
#include "cumulative/collection_history.h"
#include "collect/publish_group.h"
#include "collect/unpublished_report.h"
#include "collect/collection_lock.h"
#include "collect/fleet_collection.h"
#include "cumulative/output_guard.h"
#include "cumulative/output_conflicts.h"
#include "store/reading_store.h"
#include "collect/stations_file.h"
#include "command_registry.h"
#include "line/line_options.h"
#include "platform/file_locations.h"
#include "platform/save_file.h"
#include "publish/mqtt_publisher.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QDir>
#include <QSet>
#include <mutex>

namespace ostrand::cli {

int runCollectCommand(const QStringList &arguments);

namespace {

const RegisterCommand registration{{
    "collect",
    "  collect --stations FILE [--only NAME...] [--report FILE.json] [--retries N]\n"
    "          [--retry-pause SECONDS] [--reply-timeout MS] [--connect-timeout MS]\n"
    "          [--request-gap MS] [--echo] [--store URL] [--claim [--claim-wait SECONDS]]\n"
    "          [--listen [[HOST:]PORT]]\n"
    "      Collects every station of FILE (one [name] group each: port, baud, slave,\n"
    "      reply-timeout, connect-timeout, request-gap, echo, dial, portable,\n"
    "      output, timezone, clock): a Since Last Time download (all of the log\n"
    "      while the output does not exist), its new rows appended to the station's\n"
    "      CSV file, then the meter's confirmation. Stations on different ports (a\n"
    "      device server's HOST:PORT is one) run at the same time, those on one port\n"
    "      one after another. A failing station is tried N more times (default 2)\n"
    "      after a pause (default 10 s). --reply-timeout, --connect-timeout,\n"
    "      --request-gap and --echo are the line options, as for download, of the\n"
    "      stations that do not set their own (request-gap = MS, echo = true or\n"
    "      false; defaults 0, 10000, 0 and no echo). --only\n"
    "      (repeated or comma-separated) collects the named stations alone. Prints\n"
    "      one line per station (name, ok or failed, new rows, seconds), the reasons\n"
    "      to stderr, and with --report the same with the error texts as JSON. A run\n"
    "      that finds another one collecting a station leaves that station alone\n"
    "      (skipped, \"another collection holds the lock\") and goes on with the\n"
    "      others. Each station's run is\n"
    "      added to OUTPUT.history beside its output, which status reads. A station's\n"
    "      output must be a regular file, not a symbolic link, pipe or device, and\n"
    "      not in a folder any user may write (another user's, or one like /tmp);\n"
    "      else the station fails.\n"
    "      Exit status: 0 every station collected; 6 some failed; 3 no lock could be\n"
    "      taken, or the report could not be written or is the stations file, a\n"
    "      station's output or the store's file; 64 a bad stations file (file, line\n"
    "      and key named), two stations writing one file (also through links), or an\n"
    "      output that is the stations file or the store's file.\n"
    "      With a store (url in a [store] group of FILE, or --store URL: sqlite:FILE\n"
    "      or postgresql://...), each station's readings, made UTC by its timezone\n"
    "      (Area/City, default this machine's) and clock (local or standard), and\n"
    "      its run are committed there before the meter is confirmed; the CSV files\n"
    "      are written as ever. The next run goes on from the older of the store's\n"
    "      cursor and the file's, so each gets what the other lacks: readings\n"
    "      stored before are skipped as duplicates, rows the file holds left out;\n"
    "      readings whose time is stored with another value are kept in the\n"
    "      clashes table and reported.\n"
    "      --claim (PostgreSQL store): several collectors, on other hosts, share the\n"
    "      stations; each station is claimed in the store from its first exchange\n"
    "      to its commit, and let go during the pauses between attempts. One\n"
    "      another collector holds is waited for, up to --claim-wait (default 600\n"
    "      s; then skipped, \"held by another collector for N s\"), and one\n"
    "      collected since this run began is skipped.\n"
    "      --listen [HOST:]PORT (or --listen alone with [listen] address = ... in\n"
    "      FILE): runs until SIGTERM or SIGINT as the collector that meters' routers\n"
    "      call (stations with call-in = ID or call-in-from = ADDRESS/PREFIX, and\n"
    "      call-in-id = first|every, heartbeat, interval); see call-in.md. Without\n"
    "      --listen, those stations are left to the listener.\n"
    "      With [publish] in FILE (see publish), once every station is collected\n"
    "      and committed, the readings waiting in the store's outbox are published\n"
    "      to its broker; a broker that is down or refuses them changes neither the\n"
    "      run's exit status nor any confirmation: what was left waiting is said\n"
    "      on stderr, for the next run or publish to send.\n",
    15, &runCollectCommand}};

// As status judges it, for the retained state each station is published with.
constexpr qint64 kPublishStaleAfterSeconds = 26 * 3600;

// The report of a run whose store could not be set up: no meter was asked.
std::vector<collect::StationReport> storeFailedReports(const std::vector<collect::Station> &stations,
                                                       const QString &error)
{
    std::vector<collect::StationReport> reports;
    for (const collect::Station &station : stations) {
        collect::StationReport report;
        report.name = station.name;
        report.attempts = 1;
        report.errors << error;
        reports.push_back(report);
    }
    return reports;
}

// A station's run added to the history beside its output, which the health
// report reads when no store keeps the runs; a history that cannot be written
// is said but fails nothing, the readings being safe.
void recordHistory(const collect::Station &station, const collect::StationReport &report,
                   const QDateTime &finishedUtc)
{
    // Refused for its output, the station's own error says so already; one
    // another collector took was not tried here, and is no failure of the station.
    if (!collect::stationOutputProblem(station.output).isEmpty() || !report.skipped.isEmpty())
        return;
    collect::CollectionRow run;
    run.station = station.name;
    run.finishedUtc = finishedUtc;
    run.startedUtc = finishedUtc.addMSecs(-qint64(report.seconds * 1000));
    run.result = collect::runResultText(report.succeeded ? collect::RunResult::Ok : collect::RunResult::Failed);
    run.newReadings = report.newRows;
    run.attempts = report.attempts;
    if (!report.succeeded && !report.errors.isEmpty())
        run.error = report.errors.last();
    QString error;
    QString note;
    if (!collect::recordRun(station.output, run, &error, &note))
        printDetail(QStringLiteral("%1: the run was not added to its history: %2").arg(station.name, error));
    else if (!note.isEmpty())
        printDetail(QStringLiteral("%1: %2").arg(station.name, note));
}

// The report file, 0 when written; else why on stderr and `failed`.
int writeReport(const QString &reportPath, const std::vector<collect::StationReport> &reports, int failed,
                bool withStore = false)
{
    QString error;
    if (reportPath.isEmpty() || saveFile(reportPath, collect::reportJson(reports, withStore), &error))
        return code(ExitStatus::Done);
    printDetail(QStringLiteral("ostrand-cli: the report was not written: %1").arg(error));
    return failed;
}

// After every station is collected and committed: the outbox on to the
// broker. Whatever becomes of it is said on stderr and changes no status.
void publishAfterCollection(const collect::StationsFile &file, const QString &stationsPath, const QDateTime &nowUtc)
{
    QString error;
    const auto store = collect::openReadingStore(*file.store, &error);
    if (!store) {
        printDetail(QStringLiteral("ostrand-cli: nothing published to %1: %2").arg(file.publish->url, error));
        return;
    }
    const publish::PublishResult result = publish::publishOutbox(*file.publish, *store, file.stations, nowUtc,
                                                                 kPublishStaleAfterSeconds,
                                                                 publish::clientIdFor(stationsPath));
    if (result.ok) {
        printDetail(QStringLiteral("ostrand-cli: published %1 readings to %2").arg(result.published).arg(file.publish->url));
        return;
    }
    printDetail(QStringLiteral("ostrand-cli: published %1 readings, %2 left waiting in the outbox: %3")
                    .arg(result.published)
                    .arg(result.left)
                    .arg(result.error));
}

} // namespace

int runCollectCommand(const QStringList &given)
{
    // "--listen" alone takes its address from the stations file's [listen].
    QStringList arguments = given;
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--listen")
            && (i + 1 == arguments.size() || arguments[i + 1].startsWith(QLatin1String("--"))))
            arguments[i] = QStringLiteral("--listen=");
    }
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("stations"), QStringLiteral("The stations file."), QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("only"), QStringLiteral("Collect these stations alone."), QStringLiteral("NAME")});
    parser.addOption({QStringLiteral("report"), QStringLiteral("Write a JSON report."), QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("retries"), QStringLiteral("Further attempts."), QStringLiteral("N"),
                      QStringLiteral("2")});
    parser.addOption({QStringLiteral("retry-pause"), QStringLiteral("Seconds between attempts."),
                      QStringLiteral("SECONDS"), QStringLiteral("10")});
    parser.addOption({QStringLiteral("store"), QStringLiteral("Store readings there too."), QStringLiteral("URL")});
    parser.addOption({QStringLiteral("claim"), QStringLiteral("Claim each station in the store first.")});
    parser.addOption({QStringLiteral("claim-wait"), QStringLiteral("Seconds to wait for a station held elsewhere."),
                      QStringLiteral("SECONDS"), QStringLiteral("600")});
    parser.addOption({QStringLiteral("listen"), QStringLiteral("Collect the meters that call in."),
                      QStringLiteral("[HOST:]PORT")});
    addLineOptions(parser, kStationDefaultKeys);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (!parser.isSet(QStringLiteral("stations")))
        return usageError(QStringLiteral("collect needs --stations"));
    QString nowProblem;
    const auto startedUtc = commandNowUtc(&nowProblem);
    if (!startedUtc)
        return usageError(nowProblem);
    QElapsedTimer sinceStart;
    sinceStart.start();
    bool retriesOk = false;
    bool pauseOk = false;
    const int retries = parser.value(QStringLiteral("retries")).toInt(&retriesOk);
    const int pause = parser.value(QStringLiteral("retry-pause")).toInt(&pauseOk);
    if (!retriesOk || retries < 0 || retries > 100)
        return usageError(QStringLiteral("--retries takes a number from 0 to 100"));
    if (!pauseOk || pause < 0 || pause > 3600)
        return usageError(QStringLiteral("--retry-pause takes seconds from 0 to 3600"));
    // The line options of stations that do not set their own.
    QString problem;
    const auto defaults = lineChoiceFrom(parser, kStationDefaultKeys, QStringLiteral("collect"), &problem);
    if (!defaults)
        return usageError(problem);
    const QString reportPath = parser.value(QStringLiteral("report"));
    if (parser.isSet(QStringLiteral("report")) && reportPath.isEmpty())
        return usageError(QStringLiteral("--report needs a file name"));

    const QString stationsPath = parser.value(QStringLiteral("stations"));
    collect::StationsFile file = collect::readStationsFile(stationsPath, *defaults);
    if (!file.error.isEmpty()) {
        printDetail(QStringLiteral("ostrand-cli: ") + file.error);
        return code(ExitStatus::Usage);
    }
    // Before any meter is asked or any file read beyond the stations file.
    const std::vector<collect::StationOutput> outputs = collect::stationOutputs(file.stations);
    if (const QString conflict = collect::stationsConflict(outputs, stationsPath); !conflict.isEmpty()) {
        printDetail(QStringLiteral("ostrand-cli: ") + conflict);
        return code(ExitStatus::Usage);
    }
    if (const QString conflict = collect::reportConflict(reportPath, outputs, stationsPath);
        !conflict.isEmpty()) {
        printDetail(QStringLiteral("ostrand-cli: ") + conflict);
        return code(ExitStatus::FileFailed);
    }
    if (parser.isSet(QStringLiteral("store"))) {
        // Given on the command line, a relative file is the caller's, not the stations file's.
        file.store = collect::parseStoreUrl(parser.value(QStringLiteral("store")), QDir::currentPath(), &problem);
        if (!file.store)
            return usageError(QStringLiteral("--store %1").arg(problem));
    }
    if (file.store) {
        if (const QString conflict = collect::storeConflict(outputs, *file.store); !conflict.isEmpty()) {
            printDetail(QStringLiteral("ostrand-cli: %1: %2").arg(stationsPath, conflict));
            return code(ExitStatus::Usage);
        }
        if (const QString storeFile = collect::storeFileOf(reportPath, *file.store);
            !reportPath.isEmpty() && !storeFile.isEmpty()) {
            printDetail(QStringLiteral("ostrand-cli: --report %1 is the store's file %2; choose another report file")
                            .arg(reportPath, storeFile));
            return code(ExitStatus::FileFailed);
        }
    }
    if (const QString noStore = collect::publishWithoutStoreProblem(file, file.store); !noStore.isEmpty()) {
        printDetail(QStringLiteral("ostrand-cli: %1: %2").arg(stationsPath, noStore));
        return code(ExitStatus::Usage);
    }
    const bool claim = parser.isSet(QStringLiteral("claim"));
    if (claim && (!file.store || !collect::storeTakesClaims(*file.store)))
        return usageError(QStringLiteral("--claim needs a PostgreSQL store (postgresql://... in [store] or --store)"));
    bool claimWaitOk = false;
    const int claimWait = parser.value(QStringLiteral("claim-wait")).toInt(&claimWaitOk);
    if (!claimWaitOk || claimWait < 0 || claimWait > 86400)
        return usageError(QStringLiteral("--claim-wait takes seconds from 0 to 86400"));
    if (parser.isSet(QStringLiteral("claim-wait")) && !claim)
        return usageError(QStringLiteral("--claim-wait goes with --claim"));
    QSet<QString> only;
    for (const QString &names : parser.values(QStringLiteral("only")))
        for (const QString &name : names.split(u',', Qt::SkipEmptyParts))
            only.insert(name.trimmed());
    for (const QString &name : std::as_const(only)) {
        if (std::none_of(file.stations.begin(), file.stations.end(),
                         [&](const collect::Station &s) { return s.name == name; }))
            return usageError(QStringLiteral("--only: %1 has no station '%2'").arg(stationsPath, name));
    }
    if (!only.isEmpty()) {
        file.stations.erase(std::remove_if(file.stations.begin(), file.stations.end(),
                                           [&](const collect::Station &s) { return !only.contains(s.name); }),
                            file.stations.end());
    }

    QString lockProblem;
    if (collect::lockFolder(&lockProblem).isEmpty()) {
        printDetail(QStringLiteral("ostrand-cli: no lock could be taken for %1: %2").arg(stationsPath, lockProblem));
        return code(ExitStatus::FileFailed);
    }
    const bool listening = parser.isSet(QStringLiteral("listen"));
    // A listener collects the meters that call in; a run from a timer, the others.
    const size_t named = file.stations.size();
    file.stations = collect::callingStations(file.stations, listening);
    if (!listening && file.stations.size() < named)
        printDetail(QStringLiteral("ostrand-cli: %1 of the stations call in: collect --listen collects them")
                        .arg(named - file.stations.size()));

    collect::CollectOptions options;
    options.retries = retries;
    options.retryPauseMs = pause * 1000;
    options.comLinkDirs = fileLocationsAtStartUp().comLinkDirs();
    options.store = file.store;
    options.publish = file.publish.has_value();
    options.claim = claim;
    options.claimWaitMs = claimWait * 1000LL;
    options.startedUtc = *startedUtc;
    options.stationsPath = stationsPath;
    const bool withStore = file.store.has_value();
    std::mutex reporting; // stations of a listener finish on threads of their own
    const auto finished = [&](const collect::StationReport &report) {
        const std::lock_guard<std::mutex> lock(reporting);
        printLine(collect::reportLine(report, withStore));
        for (const QString &error : report.errors)
            printDetail(QStringLiteral("%1: %2").arg(report.name, error));
        const auto station = std::find_if(file.stations.begin(), file.stations.end(),
                                          [&](const collect::Station &s) { return s.name == report.name; });
        recordHistory(*station, report, startedUtc->addMSecs(sinceStart.elapsed()));
    };
    // The store is set up once, here, before the lines open their own
    // connections; one that cannot be used fails every station with its reason
    // at once, rather than each line waiting for it in turn.
    QString storeError;
    std::vector<collect::StationReport> reports;
    auto store = file.store ? collect::openReadingStore(*file.store, &storeError) : nullptr;
    // "Collected since this one started" compares times from the server's
    // clock alone, whatever this host's says.
    std::optional<QDateTime> serverStart;
    if (store && claim && (serverStart = store->databaseNowUtc(&storeError)))
        options.startedUtc = *serverStart;
    const bool storeFailed = file.store && (!store || (claim && !serverStart));
    store.reset();
    if (listening) {
        if (storeFailed) {
            printDetail(QStringLiteral("ostrand-cli: %1").arg(storeError));
            return code(ExitStatus::StoreFailed);
        }
        CallInRun run{file, options, parser.value(QStringLiteral("listen")), reportPath, finished};
        return runCallInCollection(run);
    }
    if (storeFailed) {
        reports = storeFailedReports(file.stations, storeError);
        for (const collect::StationReport &report : reports)
            finished(report);
    } else {
        reports = collect::collectFleet(file.stations, options, finished);
    }
    // A station another collector took is not a failure of this one.
    const bool allOk = std::all_of(reports.begin(), reports.end(), [](const collect::StationReport &r) {
        return r.succeeded || !r.skipped.isEmpty();
    });
    if (file.publish && file.store && !storeFailed)
        publishAfterCollection(file, stationsPath, startedUtc->addMSecs(sinceStart.elapsed()));
    // After the run (and its publishing): what is left waiting, in the report and its lines.
    if (file.publish && file.store && !storeFailed) {
        QString backlogError;
        if (!collect::addUnpublished(reports, *file.store, &backlogError))
            printDetail(QStringLiteral("ostrand-cli: what waits to be published was not read: %1").arg(backlogError));
        for (const QString &line : collect::unpublishedLines(reports))
            printLine(line);
    }
    const int reportStatus = writeReport(reportPath, reports, code(ExitStatus::FileFailed), withStore);
    return !allOk ? code(ExitStatus::SomeStationsFailed) : reportStatus;
}

} // namespace ostrand::cli
