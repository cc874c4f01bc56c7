#pragma once

#include <QWidget>

namespace ostrand {

class FileDialogs;
class FrameMonitor;

// "Monitor": every frame on the line, for a support request.
class MonitorTab : public QWidget {
    Q_OBJECT
public:
    MonitorTab(FrameMonitor &monitor, FileDialogs &dialogs, QWidget *parent = nullptr);
};

} // namespace ostrand
