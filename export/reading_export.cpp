#include "reading_export.h"

#include "export/reading_instants.h"

#include <QStringList>

namespace ostrand::collect {

namespace {

struct FormatEntry {
    const char *name; // as a command line gives it
    ExportFormat format;
    QByteArray (*write)(const std::vector<StoredReading> &readings);
};

// Every format there is: another is its own file and one line here.
const FormatEntry kFormats[] = {
    {"csv", ExportFormat::WindowCsv, windowCsv},
    {"iso-csv", ExportFormat::IsoCsv, isoCsv},
    {"influx", ExportFormat::Influx, influxLines},
};

} // namespace

std::optional<ExportFormat> exportFormatNamed(const QString &name)
{
    for (const FormatEntry &entry : kFormats) {
        if (name == QLatin1String(entry.name))
            return entry.format;
    }
    return std::nullopt;
}

QString exportFormatChoices()
{
    QStringList names;
    for (const FormatEntry &entry : kFormats)
        names << QLatin1String(entry.name);
    const QString last = names.takeLast();
    return names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QByteArray exportReadings(const std::vector<StoredReading> &readings, ExportFormat format)
{
    for (const FormatEntry &entry : kFormats) {
        if (entry.format == format)
            return entry.write(readings);
    }
    return {};
}

std::optional<int> readingOffsetSeconds(const StoredReading &reading)
{
    QDate date;
    QTime time;
    if (!readLocalStamp(reading.timeLocal, &date, &time) || !reading.timeUtc.isValid())
        return std::nullopt;
    return int(reading.timeUtc.secsTo(QDateTime(date, time, Qt::UTC)));
}

} // namespace ostrand::collect
