#pragma once

#include "chart/log_series.h"
#include "chart/time_ticks.h"
#include "chart/value_scale.h"

#include <QWidget>

#include <vector>

class QCategoryAxis;
class QChart;
class QLabel;
class QLineSeries;
class QPushButton;
class QStackedWidget;
class QValueAxis;

namespace ostrand {

class FileDialogs;
class PanZoomChartView;
class ResultsGrid;
struct GridState;

// The downloaded log as a chart: each channel in use over time, totals on a
// value axis of their own on the right, with zoom, pan and "Save as PNG".
// It reads the grid only in refresh(), so it costs nothing while a download
// fills the grid.
class LogChartView : public QWidget {
    Q_OBJECT

public:
    LogChartView(const ResultsGrid &grid, const GridState &state, FileDialogs &dialogs,
                 QWidget *parent = nullptr);
    ~LogChartView() override;

    // Reads the grid again and shows all of it.
    void refresh();
    // refresh() now when on screen, else the next time the chart is shown: a
    // chart on a tab not in front is not left showing the log before.
    void refreshWhenShown();
    // Writes the chart as it is shown to `path` as PNG; false when there is no
    // chart or the file cannot be written.
    bool saveAsPng(const QString &path);
    // Whether the last refresh() found anything to draw.
    bool hasData() const { return !drawn_.empty(); }
    // Shows the whole log again after zooming or panning.
    void resetZoom();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // A channel as drawn: the exact points it is reduced from, and its line.
    struct DrawnChannel {
        QLineSeries *line = nullptr;
        QString label;
        QString unit;
        bool total = false;
        std::vector<QPointF> points;
    };
    void buildChart();
    // The value axes' ranges from the channels shown, and onto the axes.
    void fitValueRanges();
    void applyValueRanges();
    void showReadout(const DrawnChannel &channel, const QPointF &at);
    void dropReadout();
    void toggleChannel(QLineSeries *line);
    void updateTitles();
    void showData(bool shown);
    void onSaveClicked();
    void redraw();
    void updateTimeTicks(double fromX, double toX, int maxTicks);
    static void setValueTicks(QValueAxis *axis, double min, double max);

    const ResultsGrid &grid_;
    const GridState &state_;
    FileDialogs &dialogs_;

    QChart *chart_ = nullptr;
    PanZoomChartView *chartView_ = nullptr;
    QCategoryAxis *timeAxis_ = nullptr;
    QValueAxis *valueAxis_ = nullptr;
    QValueAxis *totalAxis_ = nullptr;
    QStackedWidget *pages_ = nullptr;
    QLabel *placeholder_ = nullptr;
    QLabel *status_ = nullptr;
    QLabel *readout_ = nullptr;
    QPushButton *saveButton_ = nullptr;
    QPushButton *resetButton_ = nullptr;

    std::vector<DrawnChannel> drawn_;
    ValueSpan timeRange_;
    ValueSpan valueRange_;
    ValueSpan totalRange_;
    QLineSeries *readoutLine_ = nullptr; // the channel the read-out tells of
    bool stale_ = false;                 // the grid changed while the chart was hidden
    std::vector<TimeTick> ticks_;
    int plotWidth_ = -1;
    bool redrawing_ = false;
};

} // namespace ostrand
