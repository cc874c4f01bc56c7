#include "log_chart_view.h"

#include "chart/pan_zoom_chart_view.h"
#include "platform/file_dialogs.h"

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

double niceStep(double rough)
{
    if (!(rough > 0) || !std::isfinite(rough))
        return 1;
    const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
    const double fraction = rough / magnitude;
    const double nice = fraction < 1.5 ? 1 : fraction < 3 ? 2 : fraction < 7 ? 5 : 10;
    return nice * magnitude;
}

void include(double &min, double &max, bool &used, double value)
{
    min = used ? std::min(min, value) : value;
    max = used ? std::max(max, value) : value;
    used = true;
}

// A value range widened to round numbers, with some room above and below.
std::pair<double, double> roundedOutward(double min, double max)
{
    if (max - min <= 0) {
        const double pad = std::max(std::abs(min) * 0.1, 1.0);
        min -= pad;
        max += pad;
    }
    const double margin = (max - min) * 0.02;
    min -= margin;
    max += margin;
    const double step = niceStep((max - min) / kValueTicks);
    return {std::floor(min / step) * step, std::ceil(max / step) * step};
}

QString axisTitle(const QString &name, const QStringList &units)
{
    return units.isEmpty() ? name : name + QStringLiteral(" (") + units.join(QStringLiteral(", ")) + ')';
}

QString timeText(double x, const char *format)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(x)), Qt::UTC)
        .toString(QLatin1String(format));
}

bool sameTicks(const std::vector<TimeTick> &a, const std::vector<TimeTick> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const TimeTick &l, const TimeTick &r) {
                          return l.x == r.x && l.label == r.label && l.context == r.context;
                      });
}

} // namespace

LogChartView::LogChartView(const ResultsGrid &grid, const GridState &state, FileDialogs &dialogs,
                           QWidget *parent)
    : QWidget(parent), grid_(grid), state_(state), dialogs_(dialogs)
{
    buildChart();

    auto *hint = new QLabel(
        tr("Wheel: zoom time (Ctrl: values too) · Drag: zoom to a box · Right or middle drag, "
           "arrows: pan · Home: whole log"),
        this);
    hint->setObjectName(QStringLiteral("chartHint"));
    hint->setToolTip(hint->text());
    // Greyed, and free to be cut short so the buttons keep their room.
    hint->setEnabled(false);
    hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("chartStatusLabel"));
    readout_ = new QLabel(this);
    readout_->setObjectName(QStringLiteral("chartReadout"));
    resetButton_ = new QPushButton(tr("&Reset zoom"), this);
    resetButton_->setObjectName(QStringLiteral("chartResetZoomButton"));
    saveButton_ = new QPushButton(tr("Save as &PNG..."), this);
    saveButton_->setObjectName(QStringLiteral("chartSaveButton"));
    connect(resetButton_, &QPushButton::clicked, this, &LogChartView::resetZoom);
    connect(saveButton_, &QPushButton::clicked, this, &LogChartView::onSaveClicked);

    placeholder_ = new QLabel(tr("No log to chart yet.\nDownload a log from a meter or convert a "
                                 "Palm file; its channels are drawn here over time."),
                              this);
    placeholder_->setObjectName(QStringLiteral("chartPlaceholder"));
    placeholder_->setAlignment(Qt::AlignCenter);
    placeholder_->setWordWrap(true);

    pages_ = new QStackedWidget(this);
    pages_->addWidget(placeholder_);
    pages_->addWidget(chartView_);

    auto *bar = new QHBoxLayout;
    bar->addWidget(hint, 1);
    bar->addWidget(readout_);
    bar->addWidget(status_);
    bar->addWidget(resetButton_);
    bar->addWidget(saveButton_);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(pages_, 1);

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
    connect(valueAxis_, &QValueAxis::rangeChanged, this,
            [this](qreal min, qreal max) { setValueTicks(valueAxis_, min, max); });
    connect(totalAxis_, &QValueAxis::rangeChanged, this,
            [this](qreal min, qreal max) { setValueTicks(totalAxis_, min, max); });
    connect(chart_, &QChart::plotAreaChanged, this, [this](const QRectF &plot) {
        if (int(plot.width()) != plotWidth_)
            redraw();
    });
    connect(chartView_, &PanZoomChartView::resetRequested, this, &LogChartView::resetZoom);
}

void LogChartView::refresh()
{
    std::vector<ChannelSeries> channels = seriesFromGrid(grid_, state_);

    chart_->removeAllSeries();
    drawn_.clear();
    ticks_.clear();
    timeRange_ = valueRange_ = totalRange_ = Range{};

    std::vector<std::pair<const ChannelSeries *, std::vector<QPointF>>> drawable;
    for (const ChannelSeries &channel : channels) {
        Range &values = channel.total ? totalRange_ : valueRange_;
        std::vector<QPointF> points;
        points.reserve(channel.points.size());
        for (const QPointF &p : channel.points) {
            if (std::abs(p.y()) >= kMeterLimit)
                continue;
            points.push_back(p);
            include(timeRange_.min, timeRange_.max, timeRange_.used, p.x());
            include(values.min, values.max, values.used, p.y());
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
    updateTitles();
    valueAxis_->setVisible(valueRange_.used);
    totalAxis_->setVisible(totalRange_.used);
    if (timeRange_.max <= timeRange_.min) {
        timeRange_.min -= kLoneStampMargin;
        timeRange_.max += kLoneStampMargin;
    }
    // Totals only count up: room below zero would suggest a negative total.
    const bool totalsNonNegative = totalRange_.min >= 0;
    for (Range *range : {&valueRange_, &totalRange_}) {
        if (range->used)
            std::tie(range->min, range->max) = roundedOutward(range->min, range->max);
    }
    if (totalsNonNegative)
        totalRange_.min = std::max(totalRange_.min, 0.0);
    readout_->clear();
    status_->clear();
    showData(true);
    resetZoom();
}

void LogChartView::resetZoom()
{
    if (drawn_.empty())
        return;
    // The axis lays out its ticks for the new range before telling us, with
    // the interval of the old one; a far wider range would get millions.
    if (valueRange_.used) {
        setValueTicks(valueAxis_, valueRange_.min, valueRange_.max);
        valueAxis_->setRange(valueRange_.min, valueRange_.max);
    }
    if (totalRange_.used) {
        setValueTicks(totalAxis_, totalRange_.min, totalRange_.max);
        totalAxis_->setRange(totalRange_.min, totalRange_.max);
    }
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
    const auto &points = channel.points;
    if (points.empty())
        return;
    auto next = std::lower_bound(points.begin(), points.end(), at.x(),
                                 [](const QPointF &p, double x) { return p.x() < x; });
    if (next == points.end() ||
        (next != points.begin() && at.x() - (next - 1)->x() < next->x() - at.x()))
        --next;
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
}

void LogChartView::updateTitles()
{
    QStringList names, units, totalUnits;
    for (const DrawnChannel &channel : drawn_) {
        names << channel.label;
        QStringList &list = channel.total ? totalUnits : units;
        if (!channel.unit.isEmpty() && !list.contains(channel.unit))
            list << channel.unit;
    }
    valueAxis_->setTitleText(axisTitle(tr("Values"), units));
    totalAxis_->setTitleText(axisTitle(tr("Totals"), totalUnits));
    // Named on the chart itself, so a saved picture says what and when it shows.
    chart_->setTitle(names.isEmpty() ? QString()
                                     : QStringLiteral("%1 · %2 to %3")
                                           .arg(names.join(QStringLiteral(", ")),
                                                timeText(timeAxis_->min(), "M/d/yyyy h:mm AP"),
                                                timeText(timeAxis_->max(), "M/d/yyyy h:mm AP")));
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
    if (sameTicks(ticks, ticks_))
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
