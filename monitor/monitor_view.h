#pragma once

#include "monitor/frame_monitor.h"

#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;
class QTableView;

namespace ostrand {

class Clock;
class FileDialogs;
class MeterLink;

// The communication monitor's page: the frames, the counters, Pause, Clear and
// Save as text. It watches the link only while it is shown and not paused, so
// the link runs unwatched, at no cost, the rest of the time.
class MonitorView : public QWidget {
    Q_OBJECT
public:
    // `link`, `clock` and `dialogs` must outlive the view.
    MonitorView(MeterLink &link, const Clock &clock, FileDialogs &dialogs,
                QWidget *parent = nullptr);
    ~MonitorView() override;

    FrameMonitor &monitor() { return monitor_; }
    // True while this view has the link reporting to it.
    bool isAttached() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updateAttachment();
    void detach();
    void togglePause();
    void clear();
    void save();
    void showCounters(const MonitorCounters &counters);
    void noteRowsComing();

    MeterLink &link_;
    FileDialogs &dialogs_;
    FrameMonitor monitor_;
    bool shown_ = false;
    bool attached_ = false;
    bool followNewest_ = true;
    // Scrolling once per burst of rows keeps a download's flood from relayouting the table per
    // frame.
    QTimer scrollTimer_;

    QTableView *table_ = nullptr;
    QLabel *counters_ = nullptr;
    QLabel *status_ = nullptr;
    QPushButton *pause_ = nullptr;
    QPushButton *clear_ = nullptr;
    QPushButton *save_ = nullptr;
};

} // namespace ostrand
