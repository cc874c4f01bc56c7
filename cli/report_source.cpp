#include "report_source.h"

#include "collect/grid_readings.h"
#include "report/csv_rows.h"

namespace ostrand::cli {

std::optional<std::vector<collect::StoredReading>>
readingsFromCumulativeCsv(const QByteArray &text, const QString &station, const QTimeZone &zone,
                          collect::MeterClock clock, QString *problem)
{
    // The window writes Latin-1; the rows reader takes UTF-8.
    const std::vector<QStringList> rows = report::csvRows(QString::fromLatin1(text).toUtf8());
    if (rows.empty() || rows.front().value(0).trimmed() != QLatin1String("Date / Time")) {
        *problem = QStringLiteral("line 1 is not the heading row of a download's CSV file "
                                  "(\"Date / Time\" and the channels' labels)");
        return std::nullopt;
    }
    const QStringList &labels = rows.front();
    if (labels.size() - 1 > 8) {
        *problem = QStringLiteral("line 1 names %1 channels; a meter logs 8 at most")
                       .arg(labels.size() - 1);
        return std::nullopt;
    }
    collect::StationTime time(zone, clock, std::nullopt);
    std::vector<collect::StoredReading> readings;
    for (size_t i = 1; i < rows.size(); ++i) {
        const QStringList &row = rows[i];
        const std::optional<QDateTime> local = collect::gridStampTime(row.value(0).trimmed());
        if (!local || row.size() > labels.size()) {
            *problem = QStringLiteral("line %1 is not a row of the file: '%2'")
                           .arg(i + 1)
                           .arg(row.join(u','));
            return std::nullopt;
        }
        const QDateTime utc = time.toUtc(*local);
        const QString localText = local->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        for (int column = 1; column < row.size(); ++column) {
            const QString cell = row[column].trimmed();
            if (cell.isEmpty())
                continue;
            bool ok = false;
            const double value = cell.toDouble(&ok);
            if (!ok) {
                *problem = QStringLiteral("line %1, column %2: '%3' is not a number")
                               .arg(i + 1)
                               .arg(column + 1)
                               .arg(cell);
                return std::nullopt;
            }
            readings.push_back(
                {station, column, labels[column].trimmed(), QString(), utc, localText, value});
        }
    }
    return readings;
}

} // namespace ostrand::cli
