#include "monitor_tab.h"

#include "monitor/monitor_view.h"
#include "platform/object_name.h"

#include <QVBoxLayout>

namespace ostrand {

MonitorTab::MonitorTab(FrameMonitor &monitor, FileDialogs &dialogs, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(named(new MonitorView(monitor, dialogs), QStringLiteral("Monitor")));
}

} // namespace ostrand
