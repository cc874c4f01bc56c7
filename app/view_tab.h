#pragma once

#include <QWidget>

class QLabel;
class QTableView;

namespace ostrand {

class FileDialogs;
class LogChartView;
class ResultsGrid;
class SurveyPage;
struct GridState;

// "View": the downloaded rows as a grid, as a chart of the same rows, or as
// the survey checks of them (the scattergraph and the days).
class ViewTab : public QWidget {
    Q_OBJECT
public:
    ViewTab(ResultsGrid &results, GridState &gridState, FileDialogs &dialogs,
            QWidget *parent = nullptr);

    // The chart reads the grid only when shown; a new download redraws it, now
    // when on screen, else when it is shown next. Rows a failed or stopped run
    // left are marked as such above the grid and on the chart.
    void refreshChartIfShown();
    // Keeps the survey's roles, units and pipe in the link options' file at `path`.
    void useSurveySettingsFile(const QString &path);

private:
    void applyColumnWidths();

    ResultsGrid &results_;
    const GridState &gridState_;
    QLabel *incompleteNote_ = nullptr;
    QTableView *resultsView_ = nullptr;
    LogChartView *chartView_ = nullptr;
    SurveyPage *surveyPage_ = nullptr;
};

} // namespace ostrand
