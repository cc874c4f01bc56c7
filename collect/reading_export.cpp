#include "reading_export.h"

#include "collect/reading_instants.h"

namespace ostrand::collect {

std::optional<ExportFormat> exportFormatNamed(const QString &name)
{
    if (name == QLatin1String("csv"))
        return ExportFormat::WindowCsv;
    if (name == QLatin1String("iso-csv"))
        return ExportFormat::IsoCsv;
    if (name == QLatin1String("influx"))
        return ExportFormat::Influx;
    return std::nullopt;
}

QByteArray exportReadings(const std::vector<StoredReading> &readings, ExportFormat format)
{
    switch (format) {
    case ExportFormat::WindowCsv: return windowCsv(readings);
    case ExportFormat::IsoCsv: return isoCsv(readings);
    case ExportFormat::Influx: return influxLines(readings);
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
