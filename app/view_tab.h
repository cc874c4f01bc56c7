#pragma once

#include <QWidget>

class QTableView;

namespace ostrand {

class FileDialogs;
class LogChartView;
class ResultsGrid;
struct GridState;

// "View": the downloaded rows as a grid, or as a chart of the same rows.
class ViewTab : public QWidget {
    Q_OBJECT
public:
    ViewTab(ResultsGrid &results, GridState &gridState, FileDialogs &dialogs,
            QWidget *parent = nullptr);

    // The chart reads the grid only when shown; a new download redraws it, now
    // when on screen, else when it is shown next.
    void refreshChartIfShown();

private:
    void applyColumnWidths();

    ResultsGrid &results_;
    QTableView *resultsView_ = nullptr;
    LogChartView *chartView_ = nullptr;
};

} // namespace ostrand
