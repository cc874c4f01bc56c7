#include "cli_common.h"
#include "health/health_sources.h"
#include "store/store_open.h"
#include "collect/stations_file.h"
#include "command_registry.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace ostrand::cli {

int runStatusCommand(const QStringList &arguments);

namespace {

const RegisterCommand registration{{
    "status",
    "  status --stations FILE [--store URL] [--stale-after HOURS] [--json]\n"
    "      The health of every station of FILE: its state, its last success and how\n"
    "      long ago, its attempts and failures in the last 24 h and its last error,\n"
    "      one line each (--json: one document). Read from the store (--store,\n"
    "      sqlite:PATH or a PostgreSQL URI, opened read-only), else from the history\n"
    "      collect keeps beside each output (FILE.csv.history) and the output's last\n"
    "      row. The state is the worst that holds: Stale when the station has not\n"
    "      been collected for more than HOURS (default 26), or never has been;\n"
    "      Failing when its last attempt failed; Late when its last success is more\n"
    "      than 1.5 times its interval old (the station's interval key: default\n"
    "      1 d, 1 h for a meter that calls in); else OK. A station whose meter calls\n"
    "      in also shows whether its router is connected now and since when (from\n"
    "      which address), or since when not, and when it was last heard, as\n"
    "      collect --listen records them.\n"
    "      Exit status: 0 no station Stale; 1 some station Stale; 7 the store\n"
    "      could not be read; 64 bad usage or a bad stations file.\n",
    16, &runStatusCommand}};


} // namespace

int runStatusCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("stations"), QStringLiteral("The stations file."), QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("store"), QStringLiteral("The store."), QStringLiteral("URL")});
    parser.addOption({QStringLiteral("stale-after"), QStringLiteral("Hours."), QStringLiteral("HOURS")});
    parser.addOption({QStringLiteral("json"), QStringLiteral("JSON.")});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.value(QStringLiteral("stations")).isEmpty())
        return usageError(QStringLiteral("status needs --stations"));
    QString staleProblem;
    const std::optional<double> hoursGiven = staleAfterHours(parser, &staleProblem);
    if (!hoursGiven)
        return usageError(staleProblem);
    const double staleHours = *hoursGiven;
    if (parser.isSet(QStringLiteral("store")) && parser.value(QStringLiteral("store")).isEmpty())
        return usageError(QStringLiteral("--store needs a URL"));
    QString error;
    const auto now = commandNowUtc(&error);
    if (!now)
        return usageError(error);

    const QString stationsPath = parser.value(QStringLiteral("stations"));
    const collect::StationsFile file = collect::readStationsFile(stationsPath);
    if (!file.error.isEmpty()) {
        printDetail(QStringLiteral("ostrand-cli: ") + file.error);
        return code(ExitStatus::Usage);
    }
    const qint64 staleAfter = qint64(staleHours * 3600);
    std::vector<collect::StationHealth> health;
    // --store names another store than the file's, as for collect; a relative
    // sqlite: path on the command line is the working folder's.
    const QString url = parser.value(QStringLiteral("store"));
    std::optional<collect::StoreLocation> location = file.store;
    if (!url.isEmpty()) {
        location = collect::parseStoreUrl(url, QDir::currentPath(), &error);
        if (!location)
            return usageError(QStringLiteral("--store %1").arg(error));
    }
    if (!location) {
        QStringList notes;
        health = collect::healthFromFiles(file.stations, *now, staleAfter, &notes);
        for (const QString &note : notes)
            printDetail(QStringLiteral("ostrand-cli: ") + note);
    } else {
        const auto store = collect::openStoreReader(*location, &error);
        const auto read = store ? collect::healthFromStore(*store, file.stations, *now, staleAfter, &error)
                                : std::nullopt;
        if (!read) {
            printDetail(QStringLiteral("ostrand-cli: the store %1 could not be read: %2")
                            .arg(collect::storeName(*location), error));
            return code(ExitStatus::StoreFailed);
        }
        health = *read;
    }
    if (parser.isSet(QStringLiteral("json"))) {
        const QByteArray json = collect::healthJson(health, *now, staleAfter);
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    } else {
        for (const collect::StationHealth &station : health)
            printLine(collect::healthLine(station));
    }
    const bool stale = std::any_of(health.begin(), health.end(), [](const auto &s) { return s.stale; });
    return code(stale ? ExitStatus::StaleStation : ExitStatus::Done);
}

} // namespace ostrand::cli
