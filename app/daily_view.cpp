#include "daily_view.h"

#include "app/tab_widgets.h"
#include "survey/survey_tables.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>
#include <numeric>

namespace ostrand {
namespace {

using namespace survey;

enum DayColumn {
    DryColumn,
    DateColumn,
    VolumeColumn,
    TotalVolumeColumn,
    MinFlowColumn,
    MeanFlowColumn,
    MaxFlowColumn,
    NightFlowColumn,
    ReadingsColumn,
    CompletenessColumn,
    QualityColumn,
    DayColumnCount
};

QTableWidget *makeTable(const QString &name, const QStringList &headings)
{
    auto *table = named(new QTableWidget(0, int(headings.size())), name);
    table->setHorizontalHeaderLabels(headings);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    return table;
}

QTableWidgetItem *cell(const QString &text,
                       Qt::Alignment alignment = Qt::AlignRight | Qt::AlignVCenter)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(alignment);
    return item;
}

QColor qualityColor(DayQuality quality)
{
    switch (quality) {
    case DayQuality::Good:
        return QColor(0xd8, 0xef, 0xd3);
    case DayQuality::Partial:
        return QColor(0xfc, 0xed, 0xc4);
    default:
        return QColor(0xf4, 0xc7, 0xc3);
    }
}

QString zonedText(qint64 utcMs, const QTimeZone &zone)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, zone)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

DailyView::DailyView(QWidget *parent) : QWidget(parent)
{
    status_ = named(new QLabel, QStringLiteral("DailyStatus"));
    status_->setWordWrap(true);
    days_ = makeTable(QStringLiteral("DailyTable"), {});
    patternNote_ = named(new QLabel, QStringLiteral("DryWeatherNote"));
    patternNote_->setWordWrap(true);
    pattern_ = makeTable(QStringLiteral("DryWeatherTable"), {});
    gapsNote_ = named(new QLabel, QStringLiteral("GapsNote"));
    gaps_ = makeTable(QStringLiteral("GapsTable"), {"Start", "End", "Missing intervals"});
    gaps_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto *patternBox =
        groupBox(QStringLiteral("DryWeatherBox"), QStringLiteral("Dry-weather pattern"));
    auto *patternLayout = new QVBoxLayout(patternBox);
    patternLayout->addWidget(patternNote_);
    patternLayout->addWidget(pattern_, 1);
    auto *gapsBox = groupBox(QStringLiteral("GapsBox"), QStringLiteral("Gaps"));
    auto *gapsLayout = new QVBoxLayout(gapsBox);
    gapsLayout->addWidget(gapsNote_);
    gapsLayout->addWidget(gaps_, 1);
    auto *below = new QHBoxLayout;
    below->addWidget(patternBox, 1);
    below->addWidget(gapsBox, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(status_);
    layout->addWidget(days_, 3);
    layout->addLayout(below, 2);
    clear(QStringLiteral("No log to summarize: download one first."));
}

void DailyView::clear(const QString &why)
{
    series_.reset();
    summary_ = {};
    status_->setText(why);
    days_->setRowCount(0);
    pattern_->setRowCount(0);
    gaps_->setRowCount(0);
    patternNote_->clear();
    gapsNote_->clear();
}

void DailyView::setSeries(std::shared_ptr<const SurveySeries> series, const SummaryPeriod &period)
{
    if (!series || series->size() == 0) {
        clear(QStringLiteral("No readings in the period."));
        return;
    }
    series_ = std::move(series);
    summary_ = summarize(*series_, period);
    const FlowUnit flowUnit = series_->setup.flowUnit;
    const int interval = summary_.intervalSeconds;
    QString status = QStringLiteral("Log interval: %1 · %2 days · flows in %3, volumes in %4")
                         .arg(interval % 60 == 0 ? QStringLiteral("%1 min").arg(interval / 60)
                                                 : QStringLiteral("%1 s").arg(interval))
                         .arg(summary_.days.size())
                         .arg(unitName(flowUnit), unitName(volumeUnitFor(flowUnit)));
    if (!series_->hasFlow())
        status += QStringLiteral(
            " · no flow: choose a flow channel, or depth and velocity with the pipe's diameter");
    status_->setText(status);
    showDays();
    showPattern();
    showGaps();
}

void DailyView::showDays()
{
    const FlowUnit flowUnit = series_->setup.flowUnit;
    const QString flow = unitName(flowUnit);
    const QString volume = unitName(volumeUnitFor(flowUnit));
    const double flowFactor = toCubicMetresPerSecond(flowUnit);
    const double volumeFactor = toCubicMetres(volumeUnitFor(flowUnit));
    days_->setRowCount(0);
    days_->setColumnCount(DayColumnCount);
    days_->setHorizontalHeaderLabels(
        {QStringLiteral("Dry"), QStringLiteral("Date"), QStringLiteral("Volume (%1)").arg(volume),
         QStringLiteral("Volume from total (%1)").arg(volume),
         QStringLiteral("Min flow (%1)").arg(flow), QStringLiteral("Mean flow (%1)").arg(flow),
         QStringLiteral("Max flow (%1)").arg(flow), QStringLiteral("Min night flow (%1)").arg(flow),
         QStringLiteral("Readings/Expected"), QStringLiteral("Completeness (%)"),
         QStringLiteral("Quality")});
    days_->setRowCount(int(summary_.days.size()));
    for (int row = 0; row < int(summary_.days.size()); ++row) {
        const DaySummary &day = summary_.days[size_t(row)];
        auto *dry = named(new QCheckBox, QStringLiteral("DryDay"));
        dry->setProperty("date", day.date);
        dry->setToolTip(
            QStringLiteral("A day of dry weather: the pattern is made of the days ticked"));
        dry->setChecked(dry_.count(day.date) > 0);
        connect(dry, &QCheckBox::toggled, this, [this, date = day.date](bool on) {
            if (on)
                dry_.insert(date);
            else
                dry_.erase(date);
            showPattern();
        });
        days_->setCellWidget(row, DryColumn, dry);
        days_->setItem(row, DateColumn,
                       cell(day.date.toString(Qt::ISODate), Qt::AlignLeft | Qt::AlignVCenter));
        days_->setItem(row, VolumeColumn, cell(surveyNumber(day.volume / volumeFactor)));
        QTableWidgetItem *fromTotal = cell(
            day.volumeFromTotal ? surveyNumber(*day.volumeFromTotal / volumeFactor) : QString());
        if (day.volumesDisagree && day.volumeFromTotal) {
            // The two volumes of one day are the same water: apart, one of the channels is wrong.
            const QString apart =
                day.volume != 0
                    ? QStringLiteral("%1 %").arg(
                          100 * std::abs(*day.volumeFromTotal - day.volume) / day.volume, 0, 'f', 1)
                    : QStringLiteral("more than 2 %");
            fromTotal->setText(fromTotal->text() + QStringLiteral(" (differs by %1)").arg(apart));
            fromTotal->setBackground(QColor(0xfc, 0xed, 0xc4));
            fromTotal->setToolTip(
                QStringLiteral("The total channel's rise and the flow's volume differ by %1")
                    .arg(apart));
        }
        days_->setItem(row, TotalVolumeColumn, fromTotal);
        days_->setItem(row, MinFlowColumn, cell(surveyNumber(day.minFlow / flowFactor)));
        days_->setItem(row, MeanFlowColumn, cell(surveyNumber(day.meanFlow / flowFactor)));
        days_->setItem(row, MaxFlowColumn, cell(surveyNumber(day.maxFlow / flowFactor)));
        days_->setItem(row, NightFlowColumn, cell(surveyNumber(day.minNightFlow / flowFactor)));
        days_->setItem(row, ReadingsColumn,
                       cell(QStringLiteral("%1/%2").arg(day.readings).arg(day.expected)));
        days_->setItem(row, CompletenessColumn, cell(surveyNumber(100 * day.completeness)));
        QTableWidgetItem *quality = cell(qualityName(day.quality), Qt::AlignCenter);
        quality->setBackground(qualityColor(day.quality));
        days_->setItem(row, QualityColumn, quality);
    }
    days_->resizeColumnsToContents();
}

void DailyView::showPattern()
{
    // Ticks on days no longer shown are kept for the log they came from, but make no pattern here.
    std::vector<QDate> ticked;
    for (const DaySummary &day : summary_.days)
        if (dry_.count(day.date))
            ticked.push_back(day.date);
    const DiurnalPattern pattern = dryWeatherPattern(*series_, summary_, ticked);
    const FlowUnit flowUnit = series_->setup.flowUnit;
    const double flowFactor = toCubicMetresPerSecond(flowUnit);
    patternNote_->setText(
        ticked.empty()
            ? QStringLiteral("Mean flow by hour over the %1 Good days (tick days to choose)")
                  .arg(pattern.days.size())
            : QStringLiteral("Mean flow by hour over the %1 days ticked dry").arg(ticked.size()));
    pattern_->setColumnCount(3);
    pattern_->setHorizontalHeaderLabels({QStringLiteral("Hour"),
                                         QStringLiteral("Weekday (%1)").arg(unitName(flowUnit)),
                                         QStringLiteral("Weekend (%1)").arg(unitName(flowUnit))});
    pattern_->setRowCount(24);
    for (int hour = 0; hour < 24; ++hour) {
        pattern_->setItem(
            hour, 0,
            cell(QStringLiteral("%1:00").arg(hour, 2, 10, QLatin1Char('0')), Qt::AlignCenter));
        pattern_->setItem(hour, 1, cell(surveyNumber(pattern.weekday[size_t(hour)] / flowFactor)));
        pattern_->setItem(hour, 2, cell(surveyNumber(pattern.weekend[size_t(hour)] / flowFactor)));
    }
    pattern_->resizeColumnsToContents();
}

void DailyView::showGaps()
{
    gapsNote_->setText(summary_.gaps.empty()
                           ? QStringLiteral("No gaps: every interval has its reading")
                           : QStringLiteral("%1 gap(s), %2 interval(s) missing")
                                 .arg(summary_.gaps.size())
                                 .arg(std::accumulate(summary_.gaps.begin(), summary_.gaps.end(), 0,
                                                      [](int sum, const Gap &gap) {
                                                          return sum + gap.missingIntervals;
                                                      })));
    gaps_->setRowCount(int(summary_.gaps.size()));
    for (int row = 0; row < int(summary_.gaps.size()); ++row) {
        const Gap &gap = summary_.gaps[size_t(row)];
        gaps_->setItem(row, 0,
                       cell(zonedText(gap.firstMissingUtcMs, series_->zone),
                            Qt::AlignLeft | Qt::AlignVCenter));
        gaps_->setItem(
            row, 1,
            cell(zonedText(gap.lastMissingUtcMs, series_->zone), Qt::AlignLeft | Qt::AlignVCenter));
        gaps_->setItem(row, 2, cell(QString::number(gap.missingIntervals)));
    }
}

} // namespace ostrand
