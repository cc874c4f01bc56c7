#include "view_tab.h"

#include "app/tab_widgets.h"
#include "app/survey_page.h"
#include "chart/log_chart_view.h"
#include "table/grid_state.h"
#include "table/results_grid.h"
#include "table/results_table_model.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyleOptionHeader>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace ostrand {
namespace {

// The views in the order of their buttons; the last two share the survey page.
enum View { GridPage, ChartPage, ScattergraphPage, DailyPage, SurveyPages = ScattergraphPage };

// The corner above the record numbers carries their heading ("Record #"), drawn
// as the header sections beside it are.
class CornerHeading : public QObject {
public:
    explicit CornerHeading(QAbstractButton *corner) : QObject(corner) { corner->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        auto *corner = static_cast<QAbstractButton *>(watched);
        QStyleOptionHeader option;
        option.initFrom(corner);
        option.rect = corner->rect();
        option.text = corner->text();
        option.textAlignment = Qt::AlignCenter;
        option.position = QStyleOptionHeader::OnlyOneSection;
        QPainter painter(corner);
        corner->style()->drawControl(QStyle::CE_Header, &option, &painter, corner);
        return true;
    }
};

} // namespace

ViewTab::ViewTab(ResultsGrid &results, GridState &gridState, FileDialogs &dialogs, QWidget *parent)
    : QWidget(parent), results_(results), gridState_(gridState)
{
    resultsView_ = named(new QTableView, QStringLiteral("MSHFlexGrid1"));
    // The filled rows only, under their headings: the grid itself keeps its 65,535 rows.
    auto *model = new ResultsTableModel(results_, this);
    resultsView_->setModel(model);
    // A view of up to 65,533 rows must not measure each row: fixed heights keep it instant.
    resultsView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    resultsView_->verticalHeader()->setDefaultSectionSize(resultsView_->fontMetrics().height() + 6);
    resultsView_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    if (auto *corner = resultsView_->findChild<QAbstractButton *>(QString(), Qt::FindDirectChildrenOnly)) {
        new CornerHeading(corner);
        const auto showCorner = [corner, model] {
            corner->setText(model->cornerText());
            corner->update();
        };
        connect(model, &ResultsTableModel::cornerTextChanged, corner, showCorner);
        showCorner();
    }
    applyColumnWidths();
    connect(&results_, &QAbstractItemModel::headerDataChanged, this,
            [this](Qt::Orientation orientation) {
                if (orientation == Qt::Horizontal)
                    applyColumnWidths();
            });
    // The grid stays as it is; a chart of the same rows and the survey checks sit beside it, one at a time.
    chartView_ = named(new LogChartView(results_, gridState, dialogs), QStringLiteral("LogChart"));
    surveyPage_ = named(new SurveyPage(results_, gridState, dialogs), QStringLiteral("SurveyPage"));
    auto *pages = new QStackedWidget;
    pages->addWidget(resultsView_);
    pages->addWidget(chartView_);
    pages->addWidget(surveyPage_);
    auto *choice = new QButtonGroup(this);
    choice->setExclusive(true);
    const struct {
        const char *caption;
        const char *name;
    } views[] = {{"&Grid", "ShowGridButton"},
                 {"&Chart", "ShowChartButton"},
                 {"&Scattergraph", "ShowScattergraphButton"},
                 {"&Daily", "ShowDailyButton"}};
    auto *viewButtons = new QHBoxLayout;
    viewButtons->setSpacing(0);
    for (int view = 0; view < 4; ++view) {
        auto *button = named(new QPushButton(QLatin1String(views[view].caption)), QLatin1String(views[view].name));
        button->setCheckable(true);
        button->setChecked(view == GridPage);
        choice->addButton(button, view);
        viewButtons->addWidget(button);
    }
    connect(choice, &QButtonGroup::idToggled, this, [this, pages](int view, bool on) {
        if (!on)
            return;
        if (view == ChartPage)
            chartView_->refresh();
        if (view == ScattergraphPage || view == DailyPage)
            surveyPage_->showMode(view == ScattergraphPage ? SurveyPage::Mode::Scattergraph : SurveyPage::Mode::Daily);
        pages->setCurrentIndex(std::min(view, int(SurveyPages)));
    });
    // Over the rows, whichever way they are shown: a part of the log is not the log.
    incompleteNote_ = named(new QLabel(QStringLiteral("incomplete: not written · the rows read before the "
                                                      "download ended in an error or was stopped")),
                            QStringLiteral("IncompleteNote"));
    incompleteNote_->setStyleSheet(QStringLiteral("QLabel { color: #8a1c00; font-weight: bold; }"));
    incompleteNote_->setWordWrap(true);
    incompleteNote_->setVisible(false);
    auto *bar = new QHBoxLayout;
    bar->addWidget(incompleteNote_, 1);
    bar->addStretch(0);
    bar->addLayout(viewButtons);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(pages, 1);
}

void ViewTab::refreshChartIfShown()
{
    // A chart on a tab not in front is redrawn when next shown, so a download
    // started from the Download tab is what the View tab shows on return.
    chartView_->refreshWhenShown();
    surveyPage_->gridChanged();
    incompleteNote_->setVisible(gridState_.incomplete);
}

void ViewTab::useSurveySettingsFile(const QString &path)
{
    surveyPage_->useSettingsFile(path);
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
