#include "cli_common.h"
#include "collect/stations_file.h"
#include "command_registry.h"
#include "cumulative/output_conflicts.h"
#include "platform/save_file.h"
#include "platform/small_file.h"
#include "report/survey_report.h"
#include "report_source.h"
#include "store/store_open.h"
#include "store/time_text.h"
#include "survey/daily_summary.h"
#include "survey/survey_tables.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cstdio>

namespace ostrand::cli {

int runReportCommand(const QStringList &arguments);

namespace {

const RegisterCommand registration{
    {"report",
     "  report --stations FILE --station NAME [--from TIME] [--to TIME]\n"
     "         [--format pdf|png|csv|gaps|dwf] [--dry-days DATE,...] [--output FILE]\n"
     "  report --store URL --station NAME [--timezone ZONE] [SURVEY OPTIONS] ...\n"
     "  report --csv FILE [--station NAME] [--timezone ZONE] [SURVEY OPTIONS] ...\n"
     "      The flow-survey checks of a station over a period: pdf, the report (a\n"
     "      page of hydrographs per week, the depth-velocity scattergraph with the\n"
     "      pipe's Manning curve and the fitted Lanfear-Coll and Stevens-Schutzbach\n"
     "      curves, the daily table, the gaps, the completeness, the dry-weather\n"
     "      pattern); png, the scattergraph page as a picture; csv, the daily table\n"
     "      (a row per day of the station's time zone, a units row under the\n"
     "      headings); gaps, a row per run of missing instants; dwf, the dry-weather\n"
     "      mean flow of each hour, weekdays and weekend. Without --format the\n"
     "      output's suffix chooses (.png, .csv), else pdf.\n"
     "      The readings come from the stations file's [store] for the station (or\n"
     "      its cumulative CSV file when the file names no store), from --store URL\n"
     "      (sqlite:PATH or a PostgreSQL URI; the zone is the store's for the\n"
     "      station), or from --csv FILE, a station's cumulative CSV file, whose\n"
     "      N-th value column is channel N (zone: --timezone, else the machine's).\n"
     "      SURVEY OPTIONS, which take the stations file's keys of the same names\n"
     "      and win over them: --depth-channel, --velocity-channel, --flow-channel,\n"
     "      --total-channel (1 to 8; unset, found by the labels' words: Level or\n"
     "      Depth, Velocity or Vel, Flow, Tot), --depth-unit (mm, m, in, ft),\n"
     "      --velocity-unit (m/s, ft/s), --flow-unit (l/s, m3/s, m3/h, gpm, MGD,\n"
     "      cfs), --total-unit (m3, l, gal, ft3), --pipe-diameter ('600 mm'),\n"
     "      --pipe-slope (0.002), --manning-n (0.013). --timezone ZONE (IANA name)\n"
     "      wins over the station's zone. --from (included) and --to (excluded) are\n"
     "      ISO 8601 times with their zone, as export takes them; unset, the days of\n"
     "      the first and last readings are taken whole. --dry-days lists the dates\n"
     "      (YYYY-MM-DD) of dry weather for the pattern; unset, every Good day.\n"
     "      FILE is replaced whole or left as it was; csv, gaps and dwf go to stdout\n"
     "      without --output; the store's own file is refused.\n"
     "      Exit status: 0 written; 3 FILE could not be written; 7 the store or the\n"
     "      CSV file could not be opened or read; 64 bad usage, an unknown station,\n"
     "      a role whose channel logged nothing in the period, no depth or velocity\n"
     "      channel for the scattergraph, no flow for the daily table, or a period\n"
     "      with no readings.\n",
     18, &runReportCommand}};

// Decades of quarter-hours on eight channels; anything larger is no station's file.
constexpr qint64 kMaxCumulativeCsvBytes = qint64(1) << 30;

enum class Format { Pdf, Png, Csv, Gaps, Dwf };

std::optional<Format> formatNamed(const QString &name)
{
    static const std::pair<const char *, Format> kNames[] = {{"pdf", Format::Pdf},
                                                             {"png", Format::Png},
                                                             {"csv", Format::Csv},
                                                             {"gaps", Format::Gaps},
                                                             {"dwf", Format::Dwf}};
    for (const auto &[text, format] : kNames)
        if (name == QLatin1String(text))
            return format;
    return std::nullopt;
}

// Without --format: what the output's name says, else the report itself.
Format formatForOutput(const QString &output)
{
    const QString suffix = QFileInfo(output).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return Format::Png;
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    return Format::Pdf;
}

// Where the readings come from, once the command line and the stations file are read.
struct Source {
    std::optional<collect::StoreLocation> store;
    QString csvPath; // when no store
    QString station;
    std::optional<QTimeZone> zone; // nullopt: the store's for the station
    collect::MeterClock clock = collect::MeterClock::Local;
    survey::SurveySetup setup;
};

// The readings of the source over the period; nullopt with the exit code in *status.
std::optional<std::vector<collect::StoredReading>>
readReadings(Source &source, const collect::ReadingQuery &query, int *status)
{
    QString error;
    if (!source.store) {
        // Looked at before it is read: a pipe would hold the run, /dev/zero fill memory.
        const SmallFile file = readSmallFile(source.csvPath, kMaxCumulativeCsvBytes);
        if (!file.check.ok()) {
            printDetail(QStringLiteral("ostrand-cli: the CSV file could not be read: %1").arg(file.check.problem));
            *status = code(ExitStatus::StoreFailed);
            return std::nullopt;
        }
        auto readings = readingsFromCumulativeCsv(file.bytes, source.station,
                                                  source.zone.value_or(QTimeZone::systemTimeZone()),
                                                  source.clock, &error);
        if (!readings) {
            printDetail(QStringLiteral("ostrand-cli: the CSV file %1 could not be read: %2")
                            .arg(source.csvPath, error));
            *status = code(ExitStatus::StoreFailed);
            return std::nullopt;
        }
        readings->erase(std::remove_if(readings->begin(), readings->end(),
                                       [&](const collect::StoredReading &r) {
                                           return (query.fromUtc && r.timeUtc < *query.fromUtc) ||
                                                  (query.toUtc && r.timeUtc >= *query.toUtc);
                                       }),
                        readings->end());
        return readings;
    }
    const QString storeName = collect::storeName(*source.store);
    const auto storeFailed = [&] {
        printDetail(QStringLiteral("ostrand-cli: the store %1 could not be read: %2")
                        .arg(storeName, error));
        *status = code(ExitStatus::StoreFailed);
        return std::nullopt;
    };
    const auto store = collect::openStoreReader(*source.store, &error);
    if (!store)
        return storeFailed();
    const auto stations = store->stations(&error);
    if (!stations)
        return storeFailed();
    const auto row =
        std::find_if(stations->begin(), stations->end(),
                     [&](const collect::StationRow &s) { return s.name == source.station; });
    if (row == stations->end()) {
        QStringList names;
        for (const collect::StationRow &s : *stations)
            names << s.name;
        *status = usageError(QStringLiteral("the store %1 holds no station '%2' (it holds: %3)")
                                 .arg(storeName, source.station,
                                      names.isEmpty() ? QStringLiteral("none") : names.join(", ")));
        return std::nullopt;
    }
    if (!source.zone)
        source.zone = row->timezone.isEmpty() ? QTimeZone::systemTimeZone()
                                              : QTimeZone(row->timezone.toUtf8());
    auto readings = store->readings(query, &error);
    if (!readings)
        return storeFailed();
    return readings;
}

QString periodText(const collect::ReadingQuery &query)
{
    if (!query.fromUtc && !query.toUtc)
        return QStringLiteral("at all");
    return QStringLiteral("from %1 to %2")
        .arg(query.fromUtc ? collect::utcText(*query.fromUtc) : QStringLiteral("the first reading"),
             query.toUtc ? collect::utcText(*query.toUtc) : QStringLiteral("the last reading"));
}

using GivenRoles = std::array<std::pair<const char *, int>, 4>;

GivenRoles givenRoles(const survey::ChannelRoles &given)
{
    return {{{"depth-channel", given.depth},
             {"velocity-channel", given.velocity},
             {"flow-channel", given.flow},
             {"total-channel", given.total}}};
}

// Two roles given one channel (the options can undo what the stations file kept apart); empty when
// none.
QString sharedChannel(const survey::ChannelRoles &given)
{
    const GivenRoles roles = givenRoles(given);
    for (size_t i = 0; i < roles.size(); ++i)
        for (size_t j = i + 1; j < roles.size(); ++j)
            if (roles[i].second != 0 && roles[i].second == roles[j].second)
                return QStringLiteral("%1 and %2 are both channel %3; a channel plays one role")
                    .arg(QLatin1String(roles[i].first), QLatin1String(roles[j].first))
                    .arg(roles[i].second);
    return {};
}

// A role the user gave a channel for whose channel logged nothing in the period; empty when none.
QString silentRole(const survey::ChannelRoles &given,
                   const std::vector<collect::StoredReading> &readings)
{
    for (const auto &[key, channel] : givenRoles(given)) {
        if (channel != 0 &&
            std::none_of(readings.begin(), readings.end(),
                         [c = channel](const collect::StoredReading &r) { return r.channel == c; }))
            return QStringLiteral("%1 is %2, but channel %2 logged nothing")
                .arg(QLatin1String(key))
                .arg(channel);
    }
    return {};
}

bool writeOutput(const QString &output, const QByteArray &bytes, QString *error)
{
    if (!output.isEmpty())
        return saveFile(output, bytes, error);
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
        std::fflush(stdout) != 0) {
        *error = QStringLiteral("stdout could not be written");
        return false;
    }
    return true;
}

} // namespace

int runReportCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    for (const char *name : {"stations", "station", "store", "csv", "timezone", "from", "to",
                             "format", "output", "dry-days"})
        parser.addOption(
            {QLatin1String(name), QStringLiteral("See --help."), QStringLiteral("VALUE")});
    for (const char *key : survey::surveyKeyNames())
        parser.addOption(
            {QLatin1String(key), QStringLiteral("See --help."), QStringLiteral("VALUE")});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    const auto isSet = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    const auto value = [&parser](const char *name) { return parser.value(QLatin1String(name)); };
    if (int(isSet("stations")) + int(isSet("store")) + int(isSet("csv")) != 1)
        return usageError(
            QStringLiteral("report reads one of --stations FILE, --store URL or --csv FILE"));
    if (!isSet("csv") && value("station").isEmpty())
        return usageError(
            QStringLiteral("report needs --station with --%1")
                .arg(isSet("stations") ? QStringLiteral("stations") : QStringLiteral("store")));

    const QString output = value("output");
    if (isSet("output") && output.isEmpty())
        return usageError(QStringLiteral("--output needs a file name"));
    Format format = formatForOutput(output);
    if (isSet("format")) {
        const auto named = formatNamed(value("format"));
        if (!named)
            return usageError(QStringLiteral("--format takes pdf, png, csv, gaps or dwf, not '%1'")
                                  .arg(value("format")));
        format = *named;
    }
    if ((format == Format::Pdf || format == Format::Png) && output.isEmpty())
        return usageError(QStringLiteral("--format %1 needs --output FILE")
                              .arg(format == Format::Pdf ? "pdf" : "png"));

    collect::ReadingQuery query;
    QString problem;
    if (!readPeriodOptions(parser, &query.fromUtc, &query.toUtc, &problem))
        return usageError(problem);
    std::vector<QDate> dryDays;
    if (isSet("dry-days")) {
        for (const QString &text : value("dry-days").split(u',', Qt::SkipEmptyParts)) {
            const QDate date = QDate::fromString(text.trimmed(), Qt::ISODate);
            if (!date.isValid())
                return usageError(
                    QStringLiteral("--dry-days takes dates as YYYY-MM-DD, not '%1'").arg(text));
            dryDays.push_back(date);
        }
    }

    Source source;
    source.station = value("station");
    if (isSet("stations")) {
        const collect::StationsFile file = collect::readStationsFile(value("stations"));
        if (!file.error.isEmpty()) {
            printDetail(QStringLiteral("ostrand-cli: ") + file.error);
            return code(ExitStatus::Usage);
        }
        const auto station =
            std::find_if(file.stations.begin(), file.stations.end(),
                         [&](const collect::Station &s) { return s.name == source.station; });
        if (station == file.stations.end())
            return usageError(QStringLiteral("the stations file %1 has no station '%2'")
                                  .arg(value("stations"), source.station));
        source.store = file.store;
        source.csvPath = station->output;
        source.zone = station->timeZone();
        source.clock = station->clock;
        source.setup = station->survey;
    } else if (isSet("store")) {
        QString error;
        const auto location = collect::parseStoreUrl(value("store"), QDir::currentPath(), &error);
        if (!location)
            return usageError(QStringLiteral("--store %1").arg(error));
        source.store = location;
    } else {
        source.csvPath = value("csv");
        if (source.station.isEmpty())
            source.station = QFileInfo(source.csvPath).completeBaseName();
    }
    if (isSet("timezone")) {
        const QByteArray zone = value("timezone").trimmed().toUtf8();
        if (!QTimeZone::isTimeZoneIdAvailable(zone))
            return usageError(
                QStringLiteral("--timezone takes an IANA zone name such as Europe/London, not '%1'")
                    .arg(value("timezone")));
        source.zone = QTimeZone(zone);
    }
    for (const char *key : survey::surveyKeyNames()) {
        if (isSet(key) && survey::takeSurveyKey(source.setup, QLatin1String(key), value(key),
                                                &problem) != survey::KeyTaken::Taken)
            return usageError(QStringLiteral("--%1: %2").arg(QLatin1String(key), problem));
    }

    if (const QString shared = sharedChannel(source.setup.roles); !shared.isEmpty())
        return usageError(shared);

    // Before the store is opened: the file written would be the database read.
    if (source.store && !output.isEmpty()) {
        if (const QString storeFile = collect::storeFileOf(output, *source.store);
            !storeFile.isEmpty()) {
            printDetail(
                QStringLiteral(
                    "ostrand-cli: --output %1 is the store's file %2; choose another output file")
                    .arg(output, storeFile));
            return code(ExitStatus::FileFailed);
        }
    }
    if (!source.store && !output.isEmpty() &&
        QFileInfo(output).canonicalFilePath() == QFileInfo(source.csvPath).canonicalFilePath() &&
        QFileInfo::exists(output)) {
        printDetail(QStringLiteral(
                        "ostrand-cli: --output %1 is the CSV file read; choose another output file")
                        .arg(output));
        return code(ExitStatus::FileFailed);
    }

    query.station = source.station;
    int status = 0;
    auto readings = readReadings(source, query, &status);
    if (!readings)
        return status;
    if (std::none_of(readings->begin(), readings->end(),
                     [&](const collect::StoredReading &r) { return r.station == source.station; }))
        return usageError(QStringLiteral("station '%1' has no readings %2")
                              .arg(source.station, periodText(query)));
    if (const QString silent = silentRole(source.setup.roles, *readings); !silent.isEmpty())
        return usageError(QStringLiteral("%1 %2").arg(silent, periodText(query)));

    const QTimeZone zone = source.zone.value_or(QTimeZone::systemTimeZone());
    report::SurveyReportInput input;
    input.station = source.station;
    input.series = survey::seriesFromReadings(*readings, source.station, source.setup, zone);
    readings.reset();
    const survey::SurveySeries &series = input.series;
    if ((format == Format::Pdf || format == Format::Png) &&
        (!series.hasDepth() || !series.hasVelocity()))
        return usageError(
            QStringLiteral(
                "the scattergraph needs a depth and a velocity channel; none is %1: give "
                "--depth-channel and --velocity-channel")
                .arg(series.hasDepth() ? QStringLiteral("velocity") : QStringLiteral("depth")));
    if ((format == Format::Csv || format == Format::Dwf) && !series.hasFlow())
        return usageError(QStringLiteral(
            "the daily flows need a flow channel, or depth and velocity channels and "
            "--pipe-diameter: give --flow-channel"));

    survey::SummaryPeriod period;
    if (query.fromUtc)
        period.fromUtcMs = query.fromUtc->toMSecsSinceEpoch();
    if (query.toUtc)
        period.toUtcMs = query.toUtc->toMSecsSinceEpoch();
    input.summary = survey::summarize(series, period);
    input.fromUtcMs = period.fromUtcMs.value_or(
        input.summary.days.empty() ? series.utcMs.front() : input.summary.days.front().startUtcMs);
    input.toUtcMs = period.toUtcMs.value_or(
        input.summary.days.empty() ? series.utcMs.back() + 1 : input.summary.days.back().endUtcMs);
    input.dryDays = dryDays;
    input.pattern = survey::dryWeatherPattern(series, input.summary, dryDays);

    QString error;
    bool written = false;
    switch (format) {
    case Format::Csv:
        written = writeOutput(output, survey::dailyTableCsv(input.summary, series.setup.flowUnit),
                              &error);
        break;
    case Format::Gaps:
        written = writeOutput(output, survey::gapsCsv(input.summary, zone), &error);
        break;
    case Format::Dwf:
        written =
            writeOutput(output, survey::diurnalCsv(input.pattern, series.setup.flowUnit), &error);
        break;
    case Format::Pdf:
        written = report::writeSurveyPdf(input, output, &error);
        break;
    case Format::Png:
        written = report::writeScattergraphPng(input, output, &error);
        break;
    }
    if (!written) {
        printDetail(QStringLiteral("ostrand-cli: the report was not written: %1").arg(error));
        return code(ExitStatus::FileFailed);
    }
    return code(ExitStatus::Done);
}

} // namespace ostrand::cli
