#include "cli_common.h"
#include "cumulative/output_conflicts.h"
#include "export/reading_export.h"
#include "store/store_open.h"
#include "store/time_text.h"
#include "command_registry.h"
#include "platform/save_file.h"

#include <QCommandLineParser>
#include <QDir>
#include <cstdio>

namespace ostrand::cli {

int runExportCommand(const QStringList &arguments);

namespace {

const RegisterCommand registration{{
    "export",
    "  export --store URL --station NAME [--channel N] [--from TIME] [--to TIME]\n"
    "         --format csv|iso-csv|influx [--output FILE]\n"
    "      Writes a station's stored readings to FILE, or to stdout without\n"
    "      --output. URL: sqlite:PATH or a PostgreSQL connection URI. csv is the\n"
    "      window's file of a download; iso-csv has UTC stamps, the station's\n"
    "      offset from UTC and a units row; influx is InfluxDB line protocol\n"
    "      (measurement flow, tags channel, label and station, field value,\n"
    "      nanoseconds). --channel keeps one channel (1 to 8). --from (included)\n"
    "      and --to (excluded) are ISO 8601 times with their zone, such as\n"
    "      2026-11-01T00:00:00Z or 2026-11-01T00:00:00-05:00; a time without one\n"
    "      is refused. FILE is replaced whole or left as it was; the store's own\n"
    "      file is refused.\n"
    "      Exit status: 0 written; 3 FILE could not be written; 7 the store could\n"
    "      not be opened or read; 64 bad usage, or a station the store does not hold.\n",
    17, &runExportCommand}};

} // namespace

int runExportCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    for (const char *name : {"store", "station", "channel", "from", "to", "format", "output"})
        parser.addOption({QLatin1String(name), QStringLiteral("See --help."), QStringLiteral("VALUE")});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    for (const char *needed : {"store", "station", "format"}) {
        if (parser.value(QLatin1String(needed)).isEmpty())
            return usageError(QStringLiteral("export needs --%1").arg(QLatin1String(needed)));
    }
    const auto format = collect::exportFormatNamed(parser.value(QStringLiteral("format")));
    if (!format)
        return usageError(QStringLiteral("--format takes %1, not '%2'")
                              .arg(collect::exportFormatChoices(), parser.value(QStringLiteral("format"))));
    collect::ReadingQuery query;
    query.station = parser.value(QStringLiteral("station"));
    if (parser.isSet(QStringLiteral("channel"))) {
        bool ok = false;
        const int channel = parser.value(QStringLiteral("channel")).toInt(&ok);
        if (!ok || channel < 1 || channel > 8)
            return usageError(QStringLiteral("--channel takes a channel number from 1 to 8"));
        query.channel = channel;
    }
    QString problem;
    if (!readPeriodOptions(parser, &query.fromUtc, &query.toUtc, &problem))
        return usageError(problem);
    const QString output = parser.value(QStringLiteral("output"));
    if (parser.isSet(QStringLiteral("output")) && output.isEmpty())
        return usageError(QStringLiteral("--output needs a file name"));

    QString error;
    const auto location = collect::parseStoreUrl(parser.value(QStringLiteral("store")), QDir::currentPath(), &error);
    if (!location)
        return usageError(QStringLiteral("--store %1").arg(error));
    // Before the store is opened: the file written would be the database read.
    if (const QString storeFile = collect::storeFileOf(output, *location); !output.isEmpty() && !storeFile.isEmpty()) {
        printDetail(QStringLiteral("ostrand-cli: --output %1 is the store's file %2; choose another output file")
                        .arg(output, storeFile));
        return code(ExitStatus::FileFailed);
    }
    const QString storeName = collect::storeName(*location);
    const auto store = collect::openStoreReader(*location, &error);
    const auto storeFailed = [&] {
        printDetail(QStringLiteral("ostrand-cli: the store %1 could not be read: %2").arg(storeName, error));
        return code(ExitStatus::StoreFailed);
    };
    if (!store)
        return storeFailed();
    const auto stations = store->stations(&error);
    if (!stations)
        return storeFailed();
    if (std::none_of(stations->begin(), stations->end(),
                     [&](const collect::StationRow &s) { return s.name == query.station; })) {
        QStringList names;
        for (const collect::StationRow &s : *stations)
            names << s.name;
        return usageError(QStringLiteral("the store %1 holds no station '%2' (it holds: %3)")
                              .arg(storeName, query.station, names.isEmpty() ? QStringLiteral("none") : names.join(", ")));
    }
    const auto readings = store->readings(query, &error);
    if (!readings)
        return storeFailed();
    const QByteArray text = collect::exportReadings(*readings, *format);
    if (output.isEmpty()) {
        if (std::fwrite(text.constData(), 1, size_t(text.size()), stdout) != size_t(text.size())
            || std::fflush(stdout) != 0) {
            printDetail(QStringLiteral("ostrand-cli: the export could not be written to stdout"));
            return code(ExitStatus::FileFailed);
        }
        return code(ExitStatus::Done);
    }
    if (!saveFile(output, text, &error)) {
        printDetail(QStringLiteral("ostrand-cli: the export was not written: %1").arg(error));
        return code(ExitStatus::FileFailed);
    }
    return code(ExitStatus::Done);
}

} // namespace ostrand::cli
