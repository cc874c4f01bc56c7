// Draws a made-up log of three days at 15-minute intervals (a flow rate, a
// pressure and a running total) and saves the chart as PNG, for the docs.
#include "chart/log_chart_view.h"
#include "download/log_decoder.h"
#include "platform/file_dialogs.h"
#include "table/grid_headings.h"
#include "table/grid_state.h"
#include "table/meter_float.h"
#include "table/results_grid.h"

#include <QApplication>
#include <QDateTime>
#include <QTextStream>

#include <cmath>
#include <random>

namespace {

class NoDialogs : public ostrand::FileDialogs {
public:
    std::optional<QString> chooseSaveFile(const QString &, const QString &,
                                          const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> chooseOpenFile(const QString &, const QString &,
                                          const QString &) override
    {
        return std::nullopt;
    }
};

void fillSampleLog(ostrand::ResultsGrid &grid, ostrand::GridState &state)
{
    using namespace ostrand;
    constexpr int kDays = 3;
    constexpr int kMinutesPerRow = 15;
    constexpr double kPi = 3.14159265358979;

    state.channel(1).takeMeterLabel(QStringLiteral("Flow GPM"));
    state.channel(2).takeMeterLabel(QStringLiteral("Pressure PSI"));
    state.channel(3).takeMeterLabel(QStringLiteral("Total Gal"));
    setUpGridHeadings(grid);
    setUpChannelHeadings(grid, state);

    std::mt19937 random(2004);
    std::normal_distribution<double> noise(0.0, 1.0);
    const QDateTime start(QDate(2004, 3, 15), QTime(0, 0), Qt::UTC);
    double total = 182400;
    ResultsGrid::BulkUpdate bulk(grid);
    const int rows = kDays * 24 * 60 / kMinutesPerRow;
    for (int i = 1; i <= rows; ++i) {
        const QDateTime when = start.addSecs(qint64(i) * kMinutesPerRow * 60);
        const double hour = when.time().hour() + when.time().minute() / 60.0;
        // Demand peaks in the morning and the evening and sags at night.
        const double demand = 0.55 + 0.3 * std::sin((hour - 9) / 24 * 2 * kPi) +
                              0.25 * std::exp(-std::pow(hour - 7.5, 2) / 2) +
                              0.3 * std::exp(-std::pow(hour - 19, 2) / 3);
        const double flow = std::max(0.0, 120 * demand + 4 * noise(random));
        const double pressure = 68 - 0.09 * flow + 0.6 * noise(random);
        total += flow * kMinutesPerRow;
        const int row = i + 1;
        grid.setRowTexts(row, {QString::number(i), stampText(when.date(), when.time()),
                               valueText(std::round(flow * 100) / 100),
                               valueText(std::round(pressure * 100) / 100), totalValueText(total)});
        state.lastGridRow = row;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: chart_screenshot <file.png>\n";
        return 2;
    }
    ostrand::ResultsGrid grid;
    ostrand::GridState state;
    fillSampleLog(grid, state);

    NoDialogs dialogs;
    ostrand::LogChartView view(grid, state, dialogs);
    view.resize(1000, 560);
    view.show();
    view.refresh();
    QApplication::processEvents();
    if (!view.saveAsPng(QString::fromLocal8Bit(argv[1]))) {
        QTextStream(stderr) << "could not write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
