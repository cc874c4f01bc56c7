#pragma once

#include "monitor/frame_monitor.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTableView;

namespace ostrand {

class FileDialogs;

// The communication monitor's page: the frames, the counters, Pause, Clear and
// Save as text. The monitor itself records from start-up, whoever watches, so
// the page shows what happened before it was opened.
class MonitorView : public QWidget {
    Q_OBJECT
public:
    // `monitor` and `dialogs` must outlive the view.
    MonitorView(FrameMonitor &monitor, FileDialogs &dialogs, QWidget *parent = nullptr);

    FrameMonitor &monitor() { return monitor_; }
private:
    void togglePause();
    void clear();
    void save();
    void showCounters(const MonitorCounters &counters);

    FrameMonitor &monitor_;
    FileDialogs &dialogs_;
    // Whether the table is kept scrolled to its newest row.
    bool followNewest_ = true;

    QTableView *table_ = nullptr;
    QLabel *counters_ = nullptr;
    QLabel *status_ = nullptr;
    QPushButton *pause_ = nullptr;
    QPushButton *clear_ = nullptr;
    QPushButton *save_ = nullptr;
};

} // namespace ostrand
