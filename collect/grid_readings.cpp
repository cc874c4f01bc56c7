#include "grid_readings.h"

#include "store/label_text.h"
#include "table/grid_layout.h"

#include <QStringList>
#include <array>

namespace ostrand::collect {

std::optional<QDateTime> gridStampTime(const QString &text)
{
    const QStringList parts = text.split(u' ');
    const QStringList date = parts.value(0).split(u'/');
    if (date.size() != 3 || (parts.size() != 1 && parts.size() != 3))
        return std::nullopt;
    const QDate day(date[2].toInt(), date[0].toInt(), date[1].toInt());
    QTime time(0, 0);
    if (parts.size() == 3) {
        const QStringList clock = parts[1].split(u':');
        const bool pm = parts[2] == QLatin1String("PM");
        if (clock.size() != 3 || (!pm && parts[2] != QLatin1String("AM")))
            return std::nullopt;
        const int hour12 = clock[0].toInt();
        time = QTime(hour12 % 12 + (pm ? 12 : 0), clock[1].toInt(), clock[2].toInt());
    }
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(day, time, Qt::UTC);
}

std::vector<StoredReading> gridReadings(const ResultsGrid &grid, const GridState &state, const QString &station,
                                        StationTime &time, const survey::SurveySetup &survey)
{
    std::vector<StoredReading> readings;
    // A label is the meter's bytes as they are: kept without its control
    // characters, so that nothing read back from the store can break a line.
    std::array<QString, kChannelCount> labels;
    std::array<QString, kChannelCount> units;
    for (int k = 1; k <= kChannelCount; ++k)
        labels[k - 1] = withoutControlCharacters(state.channel(k).label);
    // The chart may read "Flow Tot" as a flow in "Tot"; the store keeps only a unit someone stated.
    const survey::ChannelRoles roles = survey::rolesFor(labels, survey.roles);
    for (int k = 1; k <= kChannelCount; ++k)
        units[k - 1] = survey::storedUnit(survey, roles, k, labels[k - 1]);
    const int lastRow = std::min(state.lastGridRow, grid.rows() - 1);
    for (int row = kFirstDataRow; row <= lastRow; ++row) {
        const std::optional<QDateTime> local = gridStampTime(grid.text(row, kStampCol));
        if (!local)
            continue;
        const QDateTime utc = time.toUtc(*local);
        const QString localText = local->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        for (int k = 1; k <= kChannelCount; ++k) {
            const Channel &channel = state.channel(k);
            const QString cell = grid.text(row, channelCol(k));
            bool ok = false;
            const double value = cell.toDouble(&ok);
            if (!channel.inUse || !ok)
                continue;
            const double exact = state.exactTotals.value(GridState::cellKey(row, k), value);
            readings.push_back({station, k, labels[k - 1], units[k - 1], utc, localText, exact});
        }
    }
    return readings;
}

} // namespace ostrand::collect
