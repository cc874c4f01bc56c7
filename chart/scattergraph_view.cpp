#include "scattergraph_view.h"

#include "platform/file_dialogs.h"
#include "platform/object_name.h"
#include "platform/save_file.h"

#include <QBuffer>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>
#include <functional>

namespace ostrand {

// The plot itself: paints the model and turns drags and the wheel into ranges.
class ScattergraphCanvas : public QWidget {
public:
    explicit ScattergraphCanvas(QWidget *parent) : QWidget(parent)
    {
        setMinimumSize(320, 240);
        setMouseTracking(false);
    }

    ScattergraphModel model;
    ScatterRange range;
    QString emptyText;
    std::function<void(const ScatterRange &)> onRangeChosen;

    ScatterFrame frame() const { return scatterFrame(QRectF(rect()), font(), range); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        if (model.empty() && !emptyText.isEmpty()) {
            painter.fillRect(rect(), palette().window());
            painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, emptyText);
            return;
        }
        paintScattergraph(painter, QRectF(rect()), model, range);
        if (dragging_) {
            painter.setPen(QPen(QColor(40, 90, 200), 1, Qt::DashLine));
            painter.setBrush(QColor(40, 90, 200, 30));
            painter.drawRect(QRectF(dragFrom_, dragTo_).normalized());
        }
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton || !frame().plot.contains(event->position()))
            return;
        dragging_ = true;
        dragFrom_ = dragTo_ = event->position();
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!dragging_)
            return;
        dragTo_ = event->position();
        update();
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (!dragging_ || event->button() != Qt::LeftButton)
            return;
        dragging_ = false;
        const ScatterFrame f = frame();
        const QRectF box = QRectF(dragFrom_, event->position()).normalized().intersected(f.plot);
        update();
        // A click, or a slip of the hand, is not a zoom.
        if (box.width() < 6 || box.height() < 6)
            return;
        const QPointF low = f.toValue(box.bottomLeft());
        const QPointF high = f.toValue(box.topRight());
        if (onRangeChosen)
            onRangeChosen({low.x(), high.x(), low.y(), high.y()});
    }

    void wheelEvent(QWheelEvent *event) override
    {
        const ScatterFrame f = frame();
        if (event->angleDelta().y() == 0 || !f.plot.contains(event->position()))
            return;
        // In about the point under the pointer, which stays where it is.
        const double factor = std::pow(0.8, event->angleDelta().y() / 120.0);
        const QPointF at = f.toValue(event->position());
        const ScatterRange zoomed{at.x() - (at.x() - range.depthMin) * factor,
                                  at.x() + (range.depthMax - at.x()) * factor,
                                  at.y() - (at.y() - range.velocityMin) * factor,
                                  at.y() + (range.velocityMax - at.y()) * factor};
        if (onRangeChosen)
            onRangeChosen(zoomed);
        event->accept();
    }

private:
    bool dragging_ = false;
    QPointF dragFrom_, dragTo_;
};

ScattergraphView::ScattergraphView(FileDialogs &dialogs, QWidget *parent)
    : QWidget(parent), dialogs_(dialogs)
{
    canvas_ = named(new ScattergraphCanvas(this), QStringLiteral("scattergraphPlot"));
    resetButton_ =
        named(new QPushButton(tr("Reset &zoom"), this), QStringLiteral("scattergraphResetButton"));
    saveButton_ = named(new QPushButton(tr("Save as P&NG..."), this),
                        QStringLiteral("scattergraphSaveButton"));
    status_ = named(new QLabel(this), QStringLiteral("scattergraphStatus"));
    resetButton_->setToolTip(
        tr("Show all the points again (drag a box or turn the wheel to zoom)"));
    connect(resetButton_, &QPushButton::clicked, this, &ScattergraphView::resetZoom);
    connect(saveButton_, &QPushButton::clicked, this, &ScattergraphView::onSaveClicked);
    canvas_->onRangeChosen = [this](const ScatterRange &range) { setRange(range); };

    auto *bar = new QHBoxLayout;
    bar->addWidget(resetButton_);
    bar->addWidget(saveButton_);
    bar->addWidget(status_, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(canvas_, 1);
    clear();
}

ScattergraphView::~ScattergraphView() = default;

void ScattergraphView::setSeries(const survey::SurveySeries &series, qint64 fromUtcMs,
                                 qint64 toUtcMs)
{
    const QString title = canvas_->model.title;
    canvas_->model = scattergraphModel(series, fromUtcMs, toUtcMs);
    canvas_->model.title = title;
    canvas_->emptyText = series.hasDepth() && series.hasVelocity()
                             ? tr("No instant in this period has both a depth and a velocity.")
                             : tr("The scattergraph needs a depth channel and a velocity channel.");
    canvas_->range = defaultScatterRange(canvas_->model);
    status_->clear();
    updateControls();
    canvas_->update();
    emit rangeChanged(canvas_->range);
}

void ScattergraphView::clear(const QString &why)
{
    const QString title = canvas_->model.title;
    canvas_->model = ScattergraphModel();
    canvas_->model.title = title;
    canvas_->emptyText = why.isEmpty() ? tr("No log to draw.") : why;
    canvas_->range = defaultScatterRange(canvas_->model);
    status_->clear();
    updateControls();
    canvas_->update();
}

void ScattergraphView::setTitle(const QString &title)
{
    canvas_->model.title = title;
    canvas_->update();
}

int ScattergraphView::pointCount() const
{
    return int(canvas_->model.points.size());
}

const ScattergraphModel &ScattergraphView::model() const
{
    return canvas_->model;
}

ScatterRange ScattergraphView::range() const
{
    return canvas_->range;
}

void ScattergraphView::setRange(const ScatterRange &range)
{
    // A range of no width would map every point onto one line.
    if (!(range.depthMax > range.depthMin) || !(range.velocityMax > range.velocityMin))
        return;
    canvas_->range = range;
    updateControls();
    canvas_->update();
    emit rangeChanged(range);
}

void ScattergraphView::resetZoom()
{
    setRange(defaultScatterRange(canvas_->model));
}

bool ScattergraphView::saveAsPng(const QString &path, QString *error)
{
    if (canvas_->model.empty()) {
        if (error)
            *error = tr("there is nothing to draw");
        return false;
    }
    const QSize size = canvas_->size().expandedTo(QSize(800, 560));
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setFont(canvas_->font());
        paintScattergraph(painter, QRectF(image.rect()), canvas_->model, canvas_->range);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        if (error)
            *error = tr("the picture could not be encoded as PNG");
        return false;
    }
    return saveFile(path, bytes, error);
}

void ScattergraphView::onSaveClicked()
{
    const std::optional<QString> path =
        dialogs_.chooseSaveFile(tr("Save scattergraph as PNG"), tr("PNG images (*.png)"),
                                QStringLiteral("scattergraph.png"));
    if (!path)
        return;
    QString error;
    status_->setText(saveAsPng(*path, &error)
                         ? tr("Scattergraph saved to %1").arg(*path)
                         : tr("Could not save the scattergraph to %1: %2").arg(*path, error));
}

void ScattergraphView::updateControls()
{
    const bool any = !canvas_->model.empty();
    saveButton_->setEnabled(any);
    resetButton_->setEnabled(any && !(canvas_->range == defaultScatterRange(canvas_->model)));
}

} // namespace ostrand
