#pragma once

#include "chart/scattergraph_plot.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace ostrand {

class FileDialogs;
class ScattergraphCanvas;

// The scattergraph of a survey series for the window: zoom by dragging a
// rectangle or with the wheel, "Reset zoom", and "Save as PNG".
class ScattergraphView : public QWidget {
    Q_OBJECT

public:
    explicit ScattergraphView(FileDialogs &dialogs, QWidget *parent = nullptr);
    ~ScattergraphView() override;

    // Shows `series` over [fromUtcMs, toUtcMs), the whole of it zoomed out; the fits are made here,
    // once.
    void setSeries(const survey::SurveySeries &series, qint64 fromUtcMs, qint64 toUtcMs);
    // Shows nothing (with a line saying why).
    void clear(const QString &why = {});
    // Sets the text drawn above the plot (and on a saved picture).
    void setTitle(const QString &title);

    // The points drawn: those with both depth and velocity in the range set.
    int pointCount() const;
    const ScattergraphModel &model() const;
    // The axes shown now.
    ScatterRange range() const;
    // Shows `range` (a zoom); resetZoom() fits the data again.
    void setRange(const ScatterRange &range);
    void resetZoom();
    // Writes the plot as shown to `path` as PNG (atomically); false with
    // *error set when there is nothing to draw or the file cannot be written.
    bool saveAsPng(const QString &path, QString *error = nullptr);

signals:
    void rangeChanged(const ostrand::ScatterRange &range);

private:
    void onSaveClicked();
    void updateControls();

    FileDialogs &dialogs_;
    ScattergraphCanvas *canvas_ = nullptr;
    QPushButton *resetButton_ = nullptr;
    QPushButton *saveButton_ = nullptr;
    QLabel *status_ = nullptr;
};

} // namespace ostrand
