#include "view_tab.h"

#include "app/tab_widgets.h"
#include "chart/log_chart_view.h"
#include "table/results_grid.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace ostrand {
namespace {

// Row 1 of the results holds the headings; they stand out as headings should.
class HeadingRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.row() == 0)
            option->font.setBold(true);
    }
};

} // namespace

ViewTab::ViewTab(ResultsGrid &results, GridState &gridState, FileDialogs &dialogs, QWidget *parent)
    : QWidget(parent), results_(results)
{
    resultsView_ = named(new QTableView, QStringLiteral("MSHFlexGrid1"));
    resultsView_->setModel(&results_);
    // A view of 65,535 rows must not measure each row: fixed heights keep it instant.
    resultsView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    resultsView_->verticalHeader()->setDefaultSectionSize(resultsView_->fontMetrics().height() + 6);
    resultsView_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    resultsView_->setItemDelegate(new HeadingRowDelegate(resultsView_));
    applyColumnWidths();
    connect(&results_, &QAbstractItemModel::headerDataChanged, this,
            [this](Qt::Orientation orientation) {
                if (orientation == Qt::Horizontal)
                    applyColumnWidths();
            });
    // The grid stays as it is; a chart of the same rows sits beside it, one at a time.
    chartView_ = named(new LogChartView(results_, gridState, dialogs), QStringLiteral("LogChart"));
    auto *pages = new QStackedWidget;
    pages->addWidget(resultsView_);
    pages->addWidget(chartView_);
    auto *chartButton =
        named(new QPushButton(QStringLiteral("&Show Chart")), QStringLiteral("ShowChartButton"));
    chartButton->setCheckable(true);
    connect(chartButton, &QPushButton::toggled, this, [this, pages, chartButton](bool chart) {
        if (chart)
            chartView_->refresh();
        pages->setCurrentIndex(chart ? 1 : 0);
        chartButton->setText(chart ? QStringLiteral("&Show Grid") : QStringLiteral("&Show Chart"));
    });
    auto *bar = new QHBoxLayout;
    bar->addStretch(1);
    bar->addWidget(chartButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(pages, 1);
}

void ViewTab::refreshChartIfShown()
{
    // A chart on a tab not in front is redrawn when next shown, so a download
    // started from the Download tab is what the View tab shows on return.
    chartView_->refreshWhenShown();
}

void ViewTab::applyColumnWidths()
{
    // The widths were chosen for an 8-point font; a stamp must still fit whole.
    const QFontMetrics metrics = resultsView_->fontMetrics();
    const int stampWidth = metrics.horizontalAdvance(QStringLiteral("12/31/2026 12:00:00 PM")) + 12;
    resultsView_->verticalHeader()->setMinimumWidth(
        ResultsGrid::twipsToPixels(results_.colWidthTwips(0)));
    for (int col = 1; col < results_.cols(); ++col) {
        int width = ResultsGrid::twipsToPixels(results_.colWidthTwips(col));
        if (col == 1)
            width = std::max(width, stampWidth);
        resultsView_->setColumnWidth(col - 1, width);
    }
}

} // namespace ostrand
