#include "log_chart_view.h"

#include "chart/pan_zoom_chart_view.h"
#include "chart/value_scale.h"
#include "platform/file_dialogs.h"
#include "platform/object_name.h"
#include "table/grid_state.h"

#include <QCategoryAxis>
#include <QChart>
#include <QDateTime>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace ostrand {
namespace {

// The meter writes +/-1E37 for a value out of its range; such a mark would
// flatten every other value against the axis, so it is left out of the drawing.
constexpr double kMeterLimit = 1e37;
// Buckets follow the plot's width in pixels, within these bounds, so a series
// never draws more than a few thousand points however long the log.
constexpr int kMinBuckets = 200;
constexpr int kMaxBuckets = 1500;
constexpr int kPixelsPerTimeTick = 110;
constexpr int kValueTicks = 6;
// Before the first layout the plot has no width yet.
constexpr int kUnlaidOutWidth = 1000;
constexpr qint64 kLoneStampMargin = 30 * 60 * 1000;

QString axisTitle(const QString &name, const QStringList &units)
{
    return units.isEmpty() ? name : name + QStringLiteral(" (") + units.join(QStringLiteral(", ")) + ')';
}

QString timeText(double x, const char *format)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(x)), Qt::UTC)
        .toString(QLatin1String(format));
}

} // namespace

LogChartView::LogChartView(const ResultsGrid &grid, const GridState &state, FileDialogs &dialogs,
                           QWidget *parent)
    : QWidget(parent), grid_(grid), state_(state), dialogs_(dialogs)
{
    buildChart();

    auto *hint = named(new QLabel(tr("Wheel: zoom time (Ctrl: values too) · Drag: zoom to a box · Right or middle "
                                     "drag, arrows: pan · Home: whole log"), this), QStringLiteral("chartHint"));
    // Greyed, and wrapped when narrow, so the buttons keep their room and the hint stays whole.
    hint->setEnabled(false);
    hint->setWordWrap(true);
    hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    status_ = named(new QLabel(this), QStringLiteral("chartStatusLabel"));
    readout_ = named(new QLabel(this), QStringLiteral("chartReadout"));
    resetButton_ = named(new QPushButton(tr("&Reset zoom"), this), QStringLiteral("chartResetZoomButton"));
    saveButton_ = named(new QPushButton(tr("Save as &PNG..."), this), QStringLiteral("chartSaveButton"));
    connect(resetButton_, &QPushButton::clicked, this, &LogChartView::resetZoom);
    connect(saveButton_, &QPushButton::clicked, this, &LogChartView::onSaveClicked);

    placeholder_ = named(new QLabel(tr("No log to chart yet.\nDownload a log from a meter or convert a "
                                       "Palm file; its channels are drawn here over time."), this),
                         QStringLiteral("chartPlaceholder"));
    placeholder_->setAlignment(Qt::AlignCenter);
    placeholder_->setWordWrap(true);

    pages_ = new QStackedWidget(this);
    pages_->addWidget(placeholder_);
    pages_->addWidget(chartView_);

    auto *bar = new QHBoxLayout;
    bar->addWidget(hint, 1);
    bar->addWidget(resetButton_);
    bar->addWidget(saveButton_);
    // The value under the pointer and the last save have a line of their own
    // below the chart, where they cover neither the hint nor the plot; it
    // keeps its height when empty, so the chart does not jump as they come.
    auto *notes = new QHBoxLayout;
    notes->addWidget(readout_, 1);
    notes->addWidget(status_);
    readout_->setMinimumHeight(readout_->fontMetrics().height());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(pages_, 1);
    layout->addLayout(notes);

    showData(false);
}

LogChartView::~LogChartView() = default;

void LogChartView::buildChart()
{
    chart_ = new QChart;
    chart_->setMargins(QMargins(4, 10, 4, 4));
    chart_->layout()->setContentsMargins(0, 0, 0, 0);
    chart_->setBackgroundRoundness(0);
    chart_->legend()->setAlignment(Qt::AlignBottom);

    timeAxis_ = new QCategoryAxis;
    timeAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    valueAxis_ = new QValueAxis;
    valueAxis_->setLabelFormat(QStringLiteral("%.10g"));
    totalAxis_ = new QValueAxis;
    totalAxis_->setLabelFormat(QStringLiteral("%.10g"));
    totalAxis_->setGridLineVisible(false);
    // Ticks at round values however the view is zoomed; the interval is set
    // before the type, as a dynamic axis with no interval never ends laying out.
    for (QValueAxis *axis : {valueAxis_, totalAxis_}) {
        axis->setTickAnchor(0);
        setValueTicks(axis, axis->min(), axis->max());
        axis->setTickType(QValueAxis::TicksDynamic);
    }
    timeAxis_->setTitleText(tr("Time"));
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    chart_->addAxis(totalAxis_, Qt::AlignRight);

    chartView_ = new PanZoomChartView(chart_);
    chartView_->setObjectName(QStringLiteral("chartView"));
    chartView_->setFrameShape(QFrame::NoFrame);

    connect(timeAxis_, &QValueAxis::rangeChanged, this, [this] { redraw(); });
    for (QValueAxis *axis : {valueAxis_, totalAxis_})
        connect(axis, &QValueAxis::rangeChanged, this, [axis](qreal min, qreal max) { setValueTicks(axis, min, max); });
    connect(chart_, &QChart::plotAreaChanged, this, [this](const QRectF &plot) {
        if (int(plot.width()) != plotWidth_)
            redraw();
    });
    connect(chartView_, &PanZoomChartView::resetRequested, this, &LogChartView::resetZoom);
}

void LogChartView::refreshWhenShown()
{
    if (isVisible())
        refresh();
    else
        stale_ = true;
}

void LogChartView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (stale_)
        refresh();
}

void LogChartView::refresh()
{
    stale_ = false;
    std::vector<ChannelSeries> channels = seriesFromGrid(grid_, state_);

    chart_->removeAllSeries();
    drawn_.clear();
    ticks_.clear();
    timeRange_ = ValueSpan{};
    dropReadout();

    std::vector<std::pair<const ChannelSeries *, std::vector<QPointF>>> drawable;
    for (const ChannelSeries &channel : channels) {
        std::vector<QPointF> points;
        points.reserve(channel.points.size());
        for (const QPointF &p : channel.points) {
            if (std::abs(p.y()) >= kMeterLimit)
                continue;
            points.push_back(p);
            timeRange_.include(p.x());
        }
        drawable.emplace_back(&channel, std::move(points));
    }
    if (!timeRange_.used) {
        showData(false);
        return;
    }

    for (auto &[channel, points] : drawable) {
        auto *line = new QLineSeries;
        line->setName(channel->label);
        chart_->addSeries(line);
        line->attachAxis(timeAxis_);
        line->attachAxis(channel->total ? totalAxis_ : valueAxis_);
        if (channel->total) {
            QPen pen = line->pen();
            pen.setStyle(Qt::DashLine);
            line->setPen(pen);
        }
        drawn_.push_back(
            DrawnChannel{line, channel->label, channel->unit, channel->total, std::move(points)});
        const std::size_t index = drawn_.size() - 1;
        connect(line, &QLineSeries::hovered, this, [this, index](const QPointF &at, bool on) {
            if (on && index < drawn_.size())
                showReadout(drawn_[index], at);
        });
        for (QLegendMarker *marker : chart_->legend()->markers(line))
            connect(marker, &QLegendMarker::clicked, this, [this, line] { toggleChannel(line); });
    }
    if (timeRange_.max <= timeRange_.min) {
        timeRange_.min -= kLoneStampMargin;
        timeRange_.max += kLoneStampMargin;
    }
    fitValueRanges();
    status_->clear();
    showData(true);
    resetZoom();
}

void LogChartView::fitValueRanges()
{
    valueRange_ = totalRange_ = ValueSpan{};
    for (const DrawnChannel &channel : drawn_) {
        if (!channel.line->isVisible())
            continue;
        ValueSpan &values = channel.total ? totalRange_ : valueRange_;
        for (const QPointF &p : channel.points)
            values.include(p.y());
    }
    // Totals only count up: room below zero would suggest a negative total.
    const bool totalsNonNegative = totalRange_.min >= 0;
    for (ValueSpan *range : {&valueRange_, &totalRange_}) {
        if (range->used)
            *range = roundedOutward(*range, kValueTicks);
    }
    if (totalsNonNegative)
        totalRange_.min = std::max(totalRange_.min, 0.0);
    valueAxis_->setVisible(valueRange_.used);
    totalAxis_->setVisible(totalRange_.used);
    updateTitles();
}

void LogChartView::applyValueRanges()
{
    // The axis lays out its ticks for the new range before telling us, with
    // the interval of the old one; a far wider range would get millions.
    for (auto [axis, range] : {std::pair(valueAxis_, valueRange_), std::pair(totalAxis_, totalRange_)}) {
        if (!range.used)
            continue;
        setValueTicks(axis, range.min, range.max);
        axis->setRange(range.min, range.max);
    }
}

void LogChartView::resetZoom()
{
    if (drawn_.empty())
        return;
    applyValueRanges();
    // An unchanged time range sends no signal, yet the series may be new.
    if (timeAxis_->min() == timeRange_.min && timeAxis_->max() == timeRange_.max)
        redraw();
    else
        timeAxis_->setRange(timeRange_.min, timeRange_.max);
}

bool LogChartView::saveAsPng(const QString &path)
{
    if (drawn_.empty())
        return false;
    // A chart never shown yet has a layout still pending.
    if (QGraphicsLayout *layout = chart_->layout())
        layout->activate();
    const QPixmap image = chartView_->grab();
    return !image.isNull() && image.save(path, "PNG");
}

void LogChartView::showData(bool shown)
{
    pages_->setCurrentWidget(shown ? static_cast<QWidget *>(chartView_) : placeholder_);
    saveButton_->setEnabled(shown);
    resetButton_->setEnabled(shown);
}

void LogChartView::showReadout(const DrawnChannel &channel, const QPointF &at)
{
    // The logged point nearest the pointer, not the line between two of them.
    if (channel.points.empty())
        return;
    const auto next = nearestByTime(channel.points, at.x());
    readoutLine_ = channel.line;
    readout_->setText(QStringLiteral("%1  %2 = %3")
                          .arg(timeText(next->x(), "M/d/yyyy h:mm:ss AP"), channel.label)
                          .arg(next->y(), 0, 'g', 10));
}

void LogChartView::toggleChannel(QLineSeries *line)
{
    line->setVisible(!line->isVisible());
    // The entry stays, greyed, so the channel can be shown again.
    for (QLegendMarker *marker : chart_->legend()->markers(line)) {
        marker->setVisible(true);
        QColor color = marker->labelBrush().color();
        color.setAlphaF(line->isVisible() ? 1.0 : 0.4);
        marker->setLabelBrush(color);
    }
    if (!line->isVisible() && line == readoutLine_)
        dropReadout();
    // The value axes fit what is shown, so a hidden channel's extremes no
    // longer flatten the others.
    fitValueRanges();
    applyValueRanges();
}

void LogChartView::dropReadout()
{
    readoutLine_ = nullptr;
    readout_->clear();
}

void LogChartView::updateTitles()
{
    QStringList names, units, totalUnits;
    for (const DrawnChannel &channel : drawn_) {
        if (!channel.line->isVisible())
            continue;
        names << channel.label;
        QStringList &list = channel.total ? totalUnits : units;
        if (!channel.unit.isEmpty() && !list.contains(channel.unit))
            list << channel.unit;
    }
    valueAxis_->setTitleText(axisTitle(tr("Values"), units));
    totalAxis_->setTitleText(axisTitle(tr("Totals"), totalUnits));
    // Named on the chart itself, so a saved picture says what and when it
    // shows, and when it is only the part of a log a failed run read.
    QString title = names.isEmpty() ? QString()
                                    : QStringLiteral("%1 · %2 to %3")
                                          .arg(names.join(QStringLiteral(", ")),
                                               timeText(timeAxis_->min(), "M/d/yyyy h:mm AP"),
                                               timeText(timeAxis_->max(), "M/d/yyyy h:mm AP"));
    if (!title.isEmpty() && state_.incomplete)
        title += QStringLiteral(" · incomplete: not written");
    chart_->setTitle(title);
}

void LogChartView::onSaveClicked()
{
    const std::optional<QString> path = dialogs_.chooseSaveFile(
        tr("Save chart as PNG"), tr("PNG images (*.png)"), QStringLiteral("chart.png"));
    if (!path)
        return;
    status_->setText(saveAsPng(*path) ? tr("Chart saved to %1").arg(*path)
                                      : tr("Could not save the chart to %1").arg(*path));
}

void LogChartView::redraw()
{
    if (redrawing_ || drawn_.empty())
        return;
    redrawing_ = true;
    const int width = int(chart_->plotArea().width());
    plotWidth_ = width;
    const int usable = width > 0 ? width : kUnlaidOutWidth;
    const int buckets = std::clamp(usable, kMinBuckets, kMaxBuckets);
    const double from = timeAxis_->min();
    const double to = timeAxis_->max();
    for (DrawnChannel &channel : drawn_) {
        const std::vector<QPointF> shown = downsampleMinMax(channel.points, from, to, buckets);
        channel.line->replace(QList<QPointF>(shown.begin(), shown.end()));
    }
    updateTimeTicks(from, to, usable / kPixelsPerTimeTick);
    updateTitles();
    redrawing_ = false;
}

void LogChartView::updateTimeTicks(double fromX, double toX, int maxTicks)
{
    std::vector<TimeTick> ticks = timeTicks(fromX, toX, maxTicks);
    if (ticks == ticks_)
        return;
    ticks_ = std::move(ticks);
    for (const QString &label : timeAxis_->categoriesLabels())
        timeAxis_->remove(label);
    // Below the range, so the axis draws no line of its own at the start.
    timeAxis_->setStartValue(fromX - (toX - fromX));
    for (std::size_t i = 0; i < ticks_.size(); ++i) {
        const TimeTick &tick = ticks_[i];
        QString text = tick.context.isEmpty() ? tick.label : tick.label + "<br>" + tick.context;
        // The axis keys categories by label and the same time recurs on other
        // days; invisible zero-width spaces keep each label distinct.
        text += QString(qsizetype(i), QChar(0x200B));
        timeAxis_->append(text, tick.x);
    }
}

void LogChartView::setValueTicks(QValueAxis *axis, double min, double max)
{
    axis->setTickInterval(niceStep((max - min) / kValueTicks));
}

} // namespace ostrand
