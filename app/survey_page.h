#pragma once

#include "store/store_records.h"
#include "survey/survey_series.h"

#include <QTimeZone>
#include <QWidget>
#include <memory>
#include <vector>

class QStackedWidget;

namespace ostrand {

class DailyView;
class FileDialogs;
class ResultsGrid;
class ScattergraphView;
class SurveyPanel;
struct GridState;

// The survey checks of the downloaded log: its scattergraph or its days, with
// the panel that says what the channels are. The grid is read, and the series
// and views made, only while the page is shown, and again only when the grid,
// the roles, the units or the period changed.
class SurveyPage : public QWidget {
    Q_OBJECT
public:
    enum class Mode { Scattergraph, Daily };

    SurveyPage(const ResultsGrid &grid, const GridState &state, FileDialogs &dialogs,
               QWidget *parent = nullptr);

    // Keeps the panel's choices in the link options' file at `path`.
    void useSettingsFile(const QString &path);
    void showMode(Mode mode);
    // The grid holds another log: read when next shown, the period the whole of it.
    void gridChanged();

    SurveyPanel &panel() { return *panel_; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void readGrid();
    void makeSeries();
    // Brings the view in front up to date, when it is on screen.
    void updateShown();

    const ResultsGrid &grid_;
    const GridState &state_;
    // The machine's: the grid's stamps are its wall clock, days begin at its
    // midnight, and the period boxes show its time.
    QTimeZone zone_;
    Mode mode_ = Mode::Scattergraph;
    SurveyPanel *panel_ = nullptr;
    QStackedWidget *views_ = nullptr;
    ScattergraphView *scatter_ = nullptr;
    DailyView *daily_ = nullptr;
    std::vector<collect::StoredReading> readings_;
    std::shared_ptr<const survey::SurveySeries> series_;
    // What changed since each was last made: the grid (so the readings), the series, each view.
    bool gridStale_ = true;
    bool seriesStale_ = true;
    bool scatterStale_ = true;
    bool dailyStale_ = true;
};

} // namespace ostrand
