#include "monitor_tab.h"

#include "monitor/monitor_view.h"
#include "platform/object_name.h"

#include <QVBoxLayout>

namespace ostrand {

MonitorTab::MonitorTab(MeterLink &link, const Clock &clock, FileDialogs &dialogs, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(named(new MonitorView(link, clock, dialogs), QStringLiteral("Monitor")));
}

} // namespace ostrand
