#include "meter_link.h"

#include "link/link_settings.h"
#include "platform/serial_port.h"

// What the operator is told when an exchange fails: the device, the address
// and what to check, in words rather than codes.

namespace ostrand {
namespace {

QString exceptionMeaning(int code)
{
    switch (code) {
    case 1: return QStringLiteral("illegal function");
    case 2: return QStringLiteral("illegal data address");
    case 3: return QStringLiteral("illegal data value");
    case 4: return QStringLiteral("slave device failure");
    default: return QStringLiteral("exception %1").arg(code);
    }
}

QString hexFunction(int function)
{
    return QStringLiteral("0x%1").arg(function, 2, 16, QLatin1Char('0'));
}

// The port as the user named it: COMn with its device, or the device path alone.
QString portWhere(const SerialLink &link, const SerialPort &port)
{
    const QString device = port.deviceName();
    const int number = port.namedByDevice() ? 0 : link.settings().portNumber;
    QString where = number > 0 ? QStringLiteral("COM%1").arg(number) : device;
    if (number > 0 && !device.isEmpty())
        where += QStringLiteral(" (%1)").arg(device);
    return where;
}

} // namespace

QString MeterLink::failureText(LinkError error, const QString &during) const
{
    if (error == LinkError::PortNotOpen && link_.port().lineLost())
        return QStringLiteral("lost the line to %1%2: the device went away (%3)")
            .arg(portWhere(link_, link_.port()), during.isEmpty() ? QString() : QStringLiteral(" during ") + during,
                 link_.port().lostLineReason());
    return failureText(error);
}

QString MeterLink::failureText(LinkError error) const
{
    switch (error) {
    case LinkError::PortNotOpen: {
        // The port's own report names the device and the system's reason.
        const QString reason = link_.port().errorString();
        return reason.isEmpty() ? QStringLiteral("the port would not open") : reason;
    }
    case LinkError::TimedOut: {
        // A port given by its device path (the command line's --port) has no COM number.
        const QString where = portWhere(link_, link_.port());
        return QStringLiteral("No answer from address %1 on %2 at %3 baud within %4 s: check the "
                              "cable, the baud rate and the address")
            .arg(lastSlave_)
            .arg(where, link_.settings().baudRate)
            .arg(lastGiveUp_, 0, 'g', 3);
    }
    case LinkError::CrcError:
        return QStringLiteral("the reply's CRC was wrong");
    case LinkError::WrongReply:
        return QStringLiteral("the reply answered another request");
    case LinkError::Busy:
        return QStringLiteral("the link was busy with another exchange");
    case LinkError::SlaveOutOfRange:
        return QStringLiteral("the slave address is not between 0 and 255");
    case LinkError::Stopped:
        return QStringLiteral("stopped before the meter answered");
    case LinkError::IllegalFunction:
    case LinkError::IllegalDataAddress:
    case LinkError::IllegalDataValue:
    case LinkError::SlaveDeviceFailure:
    case LinkError::Refused:
        return QStringLiteral("The meter at address %1 refused function %2 (%3): is this the right meter "
                              "type and address?")
            .arg(lastSlave_)
            .arg(hexFunction(lastFunction_), exceptionMeaning(lastException_));
    }
    return QStringLiteral("the exchange failed");
}

} // namespace ostrand
