#pragma once

#include <QChartView>
#include <QPoint>

namespace ostrand {

// A chart view the mouse and keys move about: the wheel zooms the time axis
// around the cursor (with Ctrl the values too), a left drag zooms to a box, a
// middle or right drag pans, arrows pan, + and - zoom, Home asks for a reset.
class PanZoomChartView : public QChartView {
    Q_OBJECT

public:
    explicit PanZoomChartView(QChart *chart, QWidget *parent = nullptr);

    // Scales the time span by `factor` (below 1 zooms in) around plot x position
    // `anchorX`; with `values`, the value axes around `anchorY` as well.
    void zoomAround(double factor, double anchorX, double anchorY, bool values);

signals:
    // Home was pressed: the owner knows the ranges to go back to.
    void resetRequested();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    Qt::MouseButton panButton_ = Qt::NoButton;
    QPoint lastPanPos_;
};

} // namespace ostrand
