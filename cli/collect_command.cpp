#include "cli_common.h"
#include "collect/fleet_collection.h"
#include "collect/stations_file.h"
#include "command_registry.h"
#include "platform/file_locations.h"
#include "platform/save_file.h"

#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>

namespace ostrand::cli {

int runCollectCommand(const QStringList &arguments);

namespace {

const RegisterCommand registration{{
    "collect",
    "  collect --stations FILE [--only NAME...] [--report FILE.json] [--retries N]\n"
    "          [--retry-pause SECONDS]\n"
    "      Collects every station of FILE (one [name] group each: port, baud, slave,\n"
    "      dial, portable, output): a Since Last Time download (all of the log while\n"
    "      the output does not exist), its new rows appended to the station's CSV\n"
    "      file, then the meter's confirmation. Stations on different ports run at the\n"
    "      same time, those on one port one after another. A failing station is tried\n"
    "      N more times (default 2) after a pause (default 10 s). --only (repeated or\n"
    "      comma-separated) collects the named stations alone. Prints one line per\n"
    "      station (name, ok or failed, new rows, seconds), the reasons to stderr, and\n"
    "      with --report the same with the error texts as JSON. A run that finds\n"
    "      another one collecting from FILE says so and exits 0 doing nothing.\n"
    "      Exit status: 0 every station collected; 6 some failed; 3 the report could\n"
    "      not be written; 64 a bad stations file (file, line and key named).\n",
    15, &runCollectCommand}};

constexpr int kSomeFailed = 6;

// Beside the stations file when its folder takes it, else in the temporary
// folder under a name drawn from the stations file's path.
std::unique_ptr<QLockFile> takeLock(const QString &stationsPath, bool *busy)
{
    const QString absolute = QFileInfo(stationsPath).absoluteFilePath();
    const QString beside = absolute + QStringLiteral(".lock");
    const QString inTemp = QDir::temp().filePath(
        QStringLiteral("ostrand-collect-%1.lock")
            .arg(QString::fromLatin1(QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex())));
    for (const QString &path : {beside, inTemp}) {
        auto lock = std::make_unique<QLockFile>(path);
        // A run lasts as long as its meters take; only a dead owner frees the lock.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0))
            return lock;
        if (lock->error() == QLockFile::LockFailedError) {
            *busy = true;
            printLine(QStringLiteral("another collection from %1 is running (%2): nothing done")
                          .arg(stationsPath, path));
            return nullptr;
        }
    }
    printDetail(QStringLiteral("ostrand-cli: no lock file could be made for %1").arg(stationsPath));
    return nullptr;
}

} // namespace

int runCollectCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("stations"), QStringLiteral("The stations file."), QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("only"), QStringLiteral("Collect these stations alone."), QStringLiteral("NAME")});
    parser.addOption({QStringLiteral("report"), QStringLiteral("Write a JSON report."), QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("retries"), QStringLiteral("Further attempts."), QStringLiteral("N"),
                      QStringLiteral("2")});
    parser.addOption({QStringLiteral("retry-pause"), QStringLiteral("Seconds between attempts."),
                      QStringLiteral("SECONDS"), QStringLiteral("10")});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (!parser.isSet(QStringLiteral("stations")))
        return usageError(QStringLiteral("collect needs --stations"));
    bool retriesOk = false;
    bool pauseOk = false;
    const int retries = parser.value(QStringLiteral("retries")).toInt(&retriesOk);
    const int pause = parser.value(QStringLiteral("retry-pause")).toInt(&pauseOk);
    if (!retriesOk || retries < 0 || retries > 100)
        return usageError(QStringLiteral("--retries takes a number from 0 to 100"));
    if (!pauseOk || pause < 0 || pause > 3600)
        return usageError(QStringLiteral("--retry-pause takes seconds from 0 to 3600"));
    const QString reportPath = parser.value(QStringLiteral("report"));
    if (parser.isSet(QStringLiteral("report")) && reportPath.isEmpty())
        return usageError(QStringLiteral("--report needs a file name"));

    const QString stationsPath = parser.value(QStringLiteral("stations"));
    collect::StationsFile file = collect::readStationsFile(stationsPath);
    if (!file.error.isEmpty()) {
        printDetail(QStringLiteral("ostrand-cli: ") + file.error);
        return kUsageError;
    }
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

    bool busy = false;
    const auto lock = takeLock(stationsPath, &busy);
    if (!lock)
        return busy ? 0 : kFileFailedStatus;

    collect::CollectOptions options;
    options.retries = retries;
    options.retryPauseMs = pause * 1000;
    options.comLinkDirs = fileLocationsAtStartUp().comLinkDirs();
    const auto reports = collect::collectFleet(file.stations, options, [](const collect::StationReport &report) {
        printLine(collect::reportLine(report));
        for (const QString &error : report.errors)
            printDetail(QStringLiteral("%1: %2").arg(report.name, error));
    });
    const bool allOk = std::all_of(reports.begin(), reports.end(),
                                   [](const collect::StationReport &r) { return r.succeeded; });
    if (!reportPath.isEmpty()) {
        QString error;
        if (!saveFile(reportPath, collect::reportJson(reports), &error)) {
            printDetail(QStringLiteral("ostrand-cli: the report was not written: %1").arg(error));
            if (allOk)
                return kFileFailedStatus;
        }
    }
    return allOk ? 0 : kSomeFailed;
}

} // namespace ostrand::cli
