#include "pan_zoom_chart_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace ostrand {
namespace {

// One wheel notch (120 eighths of a degree) shows 80% of the span.
constexpr double kZoomPerNotch = 0.8;
constexpr double kMaxNotches = 5;
constexpr double kKeyZoom = 0.8;
// Arrow keys move by a tenth of the plot.
constexpr double kKeyPanFraction = 0.1;

} // namespace

PanZoomChartView::PanZoomChartView(QChart *chart, QWidget *parent) : QChartView(chart, parent)
{
    setRubberBand(QChartView::RectangleRubberBand);
    setRenderHint(QPainter::Antialiasing);
    setFocusPolicy(Qt::StrongFocus);
}

void PanZoomChartView::zoomAround(double factor, double anchorX, double anchorY, bool values)
{
    const QRectF plot = chart()->plotArea();
    if (plot.isEmpty() || !(factor > 0))
        return;
    QRectF target = plot;
    target.setLeft(anchorX - (anchorX - plot.left()) * factor);
    target.setWidth(plot.width() * factor);
    if (values) {
        target.setTop(anchorY - (anchorY - plot.top()) * factor);
        target.setHeight(plot.height() * factor);
    }
    chart()->zoomIn(target);
}

void PanZoomChartView::wheelEvent(QWheelEvent *event)
{
    // A value axis lays out the ticks of the new range at the old interval
    // before it can be told a new one, so one event may not zoom out too far.
    const double notches = std::clamp(event->angleDelta().y() / 120.0, -kMaxNotches, kMaxNotches);
    if (notches == 0) {
        event->ignore();
        return;
    }
    const QPointF at = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    zoomAround(std::pow(kZoomPerNotch, notches), at.x(), at.y(),
               event->modifiers().testFlag(Qt::ControlModifier));
    event->accept();
}

void PanZoomChartView::mousePressEvent(QMouseEvent *event)
{
    // The right button would otherwise zoom out a step; dragging it pans instead.
    if (event->button() == Qt::MiddleButton || event->button() == Qt::RightButton) {
        panButton_ = event->button();
        lastPanPos_ = event->position().toPoint();
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void PanZoomChartView::mouseMoveEvent(QMouseEvent *event)
{
    if (panButton_ != Qt::NoButton) {
        const QPoint pos = event->position().toPoint();
        const QPoint delta = pos - lastPanPos_;
        lastPanPos_ = pos;
        chart()->scroll(-delta.x(), delta.y());
        event->accept();
        return;
    }
    QChartView::mouseMoveEvent(event);
}

void PanZoomChartView::mouseReleaseEvent(QMouseEvent *event)
{
    if (panButton_ != Qt::NoButton) {
        if (event->button() == panButton_) {
            panButton_ = Qt::NoButton;
            unsetCursor();
        }
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void PanZoomChartView::keyPressEvent(QKeyEvent *event)
{
    const QRectF plot = chart()->plotArea();
    const QPointF centre = plot.center();
    switch (event->key()) {
    case Qt::Key_Left:
        chart()->scroll(-plot.width() * kKeyPanFraction, 0);
        break;
    case Qt::Key_Right:
        chart()->scroll(plot.width() * kKeyPanFraction, 0);
        break;
    case Qt::Key_Up:
        chart()->scroll(0, plot.height() * kKeyPanFraction);
        break;
    case Qt::Key_Down:
        chart()->scroll(0, -plot.height() * kKeyPanFraction);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomAround(kKeyZoom, centre.x(), centre.y(), false);
        break;
    case Qt::Key_Minus:
        zoomAround(1 / kKeyZoom, centre.x(), centre.y(), false);
        break;
    case Qt::Key_Home:
        emit resetRequested();
        break;
    default:
        QChartView::keyPressEvent(event);
        return;
    }
    event->accept();
}

} // namespace ostrand
