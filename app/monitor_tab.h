#pragma once

#include <QWidget>

namespace ostrand {

class Clock;
class FileDialogs;
class MeterLink;

// "Monitor": every frame on the line, for a support request.
class MonitorTab : public QWidget {
    Q_OBJECT
public:
    MonitorTab(MeterLink &link, const Clock &clock, FileDialogs &dialogs,
               QWidget *parent = nullptr);
};

} // namespace ostrand
