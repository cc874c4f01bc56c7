#include "survey_page.h"

#include "app/daily_view.h"
#include "app/survey_panel.h"
#include "app/tab_widgets.h"
#include "chart/scattergraph_view.h"
#include "collect/grid_readings.h"
#include "store/station_time.h"
#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QHBoxLayout>
#include <QStackedWidget>

#include <algorithm>

namespace ostrand {

SurveyPage::SurveyPage(const ResultsGrid &grid, const GridState &state, FileDialogs &dialogs,
                       QWidget *parent)
    : QWidget(parent), grid_(grid), state_(state), zone_(QTimeZone::systemTimeZone())
{
    panel_ = named(new SurveyPanel, QStringLiteral("SurveyPanel"));
    panel_->setFixedWidth(std::max(panel_->sizeHint().width(), 300));
    scatter_ = named(new ScattergraphView(dialogs), QStringLiteral("Scattergraph"));
    daily_ = named(new DailyView, QStringLiteral("DailyView"));
    views_ = new QStackedWidget;
    views_->addWidget(scatter_);
    views_->addWidget(daily_);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(views_, 1);
    layout->addWidget(panel_);

    connect(panel_, &SurveyPanel::setupChanged, this, [this] {
        seriesStale_ = scatterStale_ = dailyStale_ = true;
        updateShown();
    });
    connect(panel_, &SurveyPanel::rangeChanged, this, [this] {
        scatterStale_ = dailyStale_ = true;
        updateShown();
    });
}

void SurveyPage::useSettingsFile(const QString &path)
{
    panel_->useSettingsFile(path);
}

void SurveyPage::showMode(Mode mode)
{
    mode_ = mode;
    views_->setCurrentIndex(mode == Mode::Scattergraph ? 0 : 1);
    updateShown();
}

void SurveyPage::gridChanged()
{
    gridStale_ = seriesStale_ = scatterStale_ = dailyStale_ = true;
    updateShown();
}

void SurveyPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateShown();
}

void SurveyPage::readGrid()
{
    gridStale_ = false;
    // The grid's stamps are the meter's wall clock, taken as this machine's zone keeps it.
    collect::StationTime time(zone_, collect::MeterClock::Local, std::nullopt);
    readings_ = collect::gridReadings(grid_, state_, QString(), time);
    std::array<QString, 8> labels;
    for (int k = 1; k <= 8; ++k)
        if (state_.channel(k).inUse)
            labels[size_t(k - 1)] = state_.channel(k).label;
    panel_->setChannels(labels);
    if (readings_.empty()) {
        panel_->clearLogSpan();
        return;
    }
    const auto [first, last] =
        std::minmax_element(readings_.begin(), readings_.end(),
                            [](const collect::StoredReading &a, const collect::StoredReading &b) {
                                return a.timeUtc < b.timeUtc;
                            });
    panel_->setLogSpan(first->timeUtc.toMSecsSinceEpoch(), last->timeUtc.toMSecsSinceEpoch());
}

void SurveyPage::makeSeries()
{
    seriesStale_ = false;
    const survey::SurveySetup setup = panel_->setup();
    // Only the channels playing a role are the survey's: a role chosen "None"
    // must not be filled by the series from a label that fits it.
    const survey::ChannelRoles &roles = setup.roles;
    std::vector<collect::StoredReading> taken;
    taken.reserve(readings_.size());
    for (const collect::StoredReading &reading : readings_) {
        const int k = reading.channel;
        if (k != 0 &&
            (k == roles.depth || k == roles.velocity || k == roles.flow || k == roles.total))
            taken.push_back(reading);
    }
    series_ = std::make_shared<const survey::SurveySeries>(
        survey::seriesFromReadings(taken, QString(), setup, zone_));
}

void SurveyPage::updateShown()
{
    if (!isVisible())
        return;
    if (gridStale_)
        readGrid();
    if (seriesStale_)
        makeSeries();
    const bool empty = readings_.empty();
    if (mode_ == Mode::Scattergraph && scatterStale_) {
        scatterStale_ = false;
        if (empty) {
            scatter_->clear(QStringLiteral("No log to draw: download one first."));
        } else if (!series_->hasDepth() || !series_->hasVelocity()) {
            scatter_->clear(QStringLiteral("Choose the depth and velocity channels on the right."));
        } else {
            const auto text = [this](qint64 ms) {
                return QDateTime::fromMSecsSinceEpoch(ms, zone_).toString(
                    QStringLiteral("yyyy-MM-dd HH:mm"));
            };
            scatter_->setTitle(QStringLiteral("Velocity against depth, %1 to %2")
                                   .arg(text(panel_->fromUtcMs()), text(panel_->toUtcMs() - 1)));
            scatter_->setSeries(*series_, panel_->fromUtcMs(), panel_->toUtcMs());
        }
    }
    if (mode_ == Mode::Daily && dailyStale_) {
        dailyStale_ = false;
        if (empty) {
            daily_->clear(QStringLiteral("No log to summarize: download one first."));
        } else {
            survey::SummaryPeriod period;
            // The whole log takes its first and last days whole; a period chosen, just itself.
            if (!panel_->wholeLog())
                period = {panel_->fromUtcMs(), panel_->toUtcMs()};
            daily_->setSeries(series_, period);
        }
    }
}

} // namespace ostrand
