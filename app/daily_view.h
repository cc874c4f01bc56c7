#pragma once

#include "survey/daily_summary.h"

#include <QWidget>
#include <memory>
#include <set>

class QLabel;
class QTableWidget;

namespace ostrand {

// The survey's days as a table (volumes, flows, the minimum night flow,
// completeness), a tick per day for the days of dry weather with the
// pattern they make, and the gaps in the log.
class DailyView : public QWidget {
    Q_OBJECT
public:
    explicit DailyView(QWidget *parent = nullptr);

    // Shows the days of `series` within `period`, flows in the series' flow
    // unit. Days ticked dry before stay ticked where the new days hold them.
    void setSeries(std::shared_ptr<const survey::SurveySeries> series,
                   const survey::SummaryPeriod &period);
    // Shows nothing, with a line saying why.
    void clear(const QString &why);

    const survey::SurveySummary &summary() const { return summary_; }
    // The days ticked dry, in order.
    std::vector<QDate> dryDays() const { return {dry_.begin(), dry_.end()}; }

private:
    void showDays();
    void showPattern();
    void showGaps();

    std::shared_ptr<const survey::SurveySeries> series_;
    survey::SurveySummary summary_;
    std::set<QDate> dry_;
    QLabel *status_ = nullptr;
    QTableWidget *days_ = nullptr;
    QLabel *patternNote_ = nullptr;
    QTableWidget *pattern_ = nullptr;
    QLabel *gapsNote_ = nullptr;
    QTableWidget *gaps_ = nullptr;
};

} // namespace ostrand
