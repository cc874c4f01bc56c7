#pragma once

#include "line/line_choice.h"
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/serial_port.h"

#include <QStringList>
#include <memory>

namespace ostrand {

class QtSerialPort;

// The port, its clock and event pump, the serial link and the Modbus link
// over them, put together in one place for every tool that talks to a meter.
// Lives on one thread: the port's notifiers and the pump are that thread's.
class MeterLine {
public:
    // A tty of its own, COMn looked up in `comLinkDirs`, on the system's clock
    // and the calling thread's event loop.
    explicit MeterLine(const QStringList &comLinkDirs);
    MeterLine(const QStringList &comLinkDirs, const LineChoice &choice);
    // A port made elsewhere (the window's port maker), on the system's clock
    // and the calling thread's event loop.
    explicit MeterLine(std::unique_ptr<SerialPort> port);
    // The caller's parts, which outlive the line (tests on virtual time).
    MeterLine(SerialPort &port, Clock &clock, EventPump &pump);
    ~MeterLine();
    MeterLine(const MeterLine &) = delete;
    MeterLine &operator=(const MeterLine &) = delete;

    // The meter the next exchange goes to. Only a line with a tty of its own
    // can be given a device path; the others are chosen by COM number.
    void choose(const LineChoice &choice);
    // Closes the port; the next exchange opens it again.
    void close() { serial_.closePort(); }

    MeterLink &link() { return link_; }
    SerialLink &serial() { return serial_; }
    // The port the chosen line leads to: the serial port or a device server's.
    SerialPort &port() { return serial_.port(); }
    const Clock &clock() const { return clock_; }
    EventPump &pump() { return pump_; }

private:
    // What the line made for itself; empty when borrowed.
    struct Owned {
        std::unique_ptr<SerialPort> port;
        std::unique_ptr<Clock> clock;
        std::unique_ptr<EventPump> pump;
    };

    Owned owned_;
    QtSerialPort *tty_ = nullptr; // the port when it is a tty of the line's own
    SerialPort &port_;
    Clock &clock_;
    EventPump &pump_;
    SerialLink serial_;
    MeterLink link_;
};

} // namespace ostrand
