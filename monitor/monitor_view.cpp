#include "monitor_view.h"

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

MonitorView::MonitorView(FrameMonitor &monitor, FileDialogs &dialogs, QWidget *parent)
    : QWidget(parent), monitor_(monitor), dialogs_(dialogs)
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

    // The view follows the newest frame while its scrollbar is at the end: each
    // new range (one a layout, however many rows came) is followed to its end,
    // and a move of the user's away from the end stops that until they return.
    QScrollBar *bar = table_->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { followNewest_ = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (followNewest_)
            bar->setValue(max);
    });
    connect(&monitor_, &FrameMonitor::countersChanged, this, &MonitorView::showCounters);
    connect(pause_, &QPushButton::clicked, this, &MonitorView::togglePause);
    connect(clear_, &QPushButton::clicked, this, &MonitorView::clear);
    connect(save_, &QPushButton::clicked, this, &MonitorView::save);
    showCounters(monitor_.counters());
}

void MonitorView::togglePause()
{
    const bool paused = !monitor_.isPaused();
    monitor_.setPaused(paused);
    pause_->setText(paused ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
    status_->setText(paused ? QStringLiteral("Paused: frames are not recorded.") : QString());
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

} // namespace ostrand
