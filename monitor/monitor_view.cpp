#include "monitor_view.h"

#include "link/meter_link.h"
#include "platform/file_dialogs.h"
#include "platform/object_name.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace ostrand {

MonitorView::MonitorView(MeterLink &link, const Clock &clock, FileDialogs &dialogs, QWidget *parent)
    : QWidget(parent), link_(link), dialogs_(dialogs), monitor_(clock)
{
    table_ = named(new QTableView, QStringLiteral("monitorTable"));
    table_->setModel(&monitor_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    // Fixed row heights and column widths: measuring 20,000 rows to fit them would stall the page.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    table_->verticalHeader()->hide();
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table_->setColumnWidth(FrameMonitor::TimeColumn,
                           fixed.horizontalAdvance(QStringLiteral("00:00:00.000")) + 16);
    table_->setColumnWidth(FrameMonitor::DirectionColumn,
                           fontMetrics().horizontalAdvance(QStringLiteral("received")) + 20);
    table_->setColumnWidth(FrameMonitor::ReadingColumn,
                           fontMetrics().horizontalAdvance(QStringLiteral(
                               "time-out: no reply to log block 08 80 00, 128 words")) +
                               16);
    table_->horizontalHeader()->setStretchLastSection(true);

    counters_ = named(new QLabel, QStringLiteral("monitorCounters"));
    status_ = named(new QLabel, QStringLiteral("monitorStatus"));
    pause_ = named(new QPushButton(QStringLiteral("&Pause")), QStringLiteral("monitorPauseButton"));
    clear_ = named(new QPushButton(QStringLiteral("&Clear")), QStringLiteral("monitorClearButton"));
    save_ = named(new QPushButton(QStringLiteral("&Save as text")), QStringLiteral("monitorSaveButton"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(counters_, 1);
    buttons->addWidget(pause_);
    buttons->addWidget(clear_);
    buttons->addWidget(save_);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(table_, 1);
    layout->addWidget(status_);

    scrollTimer_.setSingleShot(true);
    scrollTimer_.setInterval(100);
    connect(&scrollTimer_, &QTimer::timeout, table_, &QTableView::scrollToBottom);
    connect(&monitor_, &QAbstractItemModel::rowsAboutToBeInserted, this,
            &MonitorView::noteRowsComing);
    connect(&monitor_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (followNewest_ && !scrollTimer_.isActive())
            scrollTimer_.start();
    });
    connect(&monitor_, &FrameMonitor::countersChanged, this, &MonitorView::showCounters);
    connect(pause_, &QPushButton::clicked, this, &MonitorView::togglePause);
    connect(clear_, &QPushButton::clicked, this, &MonitorView::clear);
    connect(save_, &QPushButton::clicked, this, &MonitorView::save);
    showCounters(monitor_.counters());
}

MonitorView::~MonitorView()
{
    // Only when still attached: a window's members (its link among them) may
    // already be gone by the time its child widgets are destroyed, but a
    // closed window hid us, and so detached us, before that.
    if (attached_)
        detach();
}

bool MonitorView::isAttached() const
{
    return attached_;
}

void MonitorView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    shown_ = true;
    updateAttachment();
}

void MonitorView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    shown_ = false;
    updateAttachment();
}

void MonitorView::updateAttachment()
{
    const bool wanted = shown_ && !monitor_.isPaused();
    if (wanted && !attached_) {
        link_.setObserver(&monitor_);
        attached_ = true;
    } else if (!wanted && attached_) {
        detach();
    }
}

void MonitorView::detach()
{
    // Someone who attached after us keeps their place.
    if (link_.observer() == &monitor_)
        link_.setObserver(nullptr);
    attached_ = false;
}

void MonitorView::togglePause()
{
    const bool paused = !monitor_.isPaused();
    monitor_.setPaused(paused);
    pause_->setText(paused ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
    status_->setText(paused ? QStringLiteral("Paused: frames are not recorded.") : QString());
    updateAttachment();
}

void MonitorView::clear()
{
    monitor_.clear();
    followNewest_ = true;
    status_->clear();
}

void MonitorView::save()
{
    const auto path =
        dialogs_.chooseSaveFile(QStringLiteral("Save Communication Record"),
                                QStringLiteral("*.txt"), QStringLiteral("monitor.txt"));
    if (!path || path->isEmpty())
        return;
    QString error;
    if (monitor_.saveAsText(*path, &error))
        status_->setText(QStringLiteral("Saved to %1").arg(*path));
    else
        status_->setText(QStringLiteral("Could not save %1: %2").arg(*path, error));
}

void MonitorView::showCounters(const MonitorCounters &counters)
{
    counters_->setText(countersText(counters));
}

void MonitorView::noteRowsComing()
{
    // Someone who scrolled up to read is left where they are.
    const QScrollBar *bar = table_->verticalScrollBar();
    followNewest_ = bar->value() >= bar->maximum();
}

} // namespace ostrand
