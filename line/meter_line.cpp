#include "meter_line.h"

#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"

namespace ostrand {

MeterLine::MeterLine(const QStringList &comLinkDirs) : MeterLine(std::make_unique<QtSerialPort>(comLinkDirs))
{
    tty_ = static_cast<QtSerialPort *>(&port_);
}

MeterLine::MeterLine(const QStringList &comLinkDirs, const LineChoice &choice) : MeterLine(comLinkDirs)
{
    choose(choice);
}

MeterLine::MeterLine(std::unique_ptr<SerialPort> port)
    : owned_{std::move(port), std::make_unique<SystemClock>(), std::make_unique<QtEventPump>()},
      port_(*owned_.port), clock_(*owned_.clock), pump_(*owned_.pump), serial_(port_, clock_, pump_),
      link_(serial_)
{
}

MeterLine::MeterLine(SerialPort &port, Clock &clock, EventPump &pump)
    : port_(port), clock_(clock), pump_(pump), serial_(port_, clock_, pump_), link_(serial_)
{
}

MeterLine::~MeterLine() = default;

void MeterLine::choose(const LineChoice &choice)
{
    // A path silently dropped would open COM1 instead: another device's line.
    Q_ASSERT(tty_ || choice.devicePath.isEmpty());
    if (tty_)
        tty_->setDeviceOverride(choice.devicePath);
    serial_.setSettings(choice.settings());
}

} // namespace ostrand
