#pragma once

#include "download/grid_state.h"
#include "download/results_grid.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>

namespace ostrand {

// A results grid filled the way a download leaves it, row by row.
struct LogGrid {
    ResultsGrid grid{ResultsGrid::kDefaultRows, ResultsGrid::kDefaultCols};
    GridState state;

    void channel(int k, const QString &label, bool total = false)
    {
        state.channelInUse[k] = true;
        state.channelIsTotal[k - 1] = total;
        grid.setText(1, k + 1, label);
    }

    // The next data row: its stamp and the values of some channels.
    void row(const QString &stamp, const std::map<int, QString> &values)
    {
        const int r = ++state.lastGridRow;
        grid.setText(r, 0, QString::number(r - 1));
        grid.setText(r, 1, stamp);
        for (const auto &[k, text] : values)
            grid.setText(r, k + 1, text);
    }

    // Every grid row a 15-minute sample of all eight channels, channel k
    // holding k * 1000 + row number except the spikes the test asks for.
    void fillAllRows(const std::map<int, double> &spikesByRow = {})
    {
        ResultsGrid::BulkUpdate bulk(grid);
        for (int k = 1; k <= 8; ++k)
            channel(k, QStringLiteral("Ch%1").arg(k));
        const QDateTime start(QDate(2004, 3, 15), QTime(0, 0), Qt::UTC);
        for (int r = 2; r < grid.rows(); ++r) {
            QStringList texts{QString::number(r - 1),
                              start.addSecs(qint64(r) * 900).toString("M/d/yyyy h:mm:ss AP")};
            const auto spike = spikesByRow.find(r);
            for (int k = 1; k <= 8; ++k)
                texts << QString::number(spike != spikesByRow.end() ? spike->second : k * 1000 + r);
            grid.setRowTexts(r, texts);
        }
        state.lastGridRow = grid.rows() - 1;
    }
};

inline double msecs(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return double(QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC)
                      .toMSecsSinceEpoch());
}

} // namespace ostrand
