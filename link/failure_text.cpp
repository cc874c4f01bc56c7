#include "link_failure.h"

#include "link/modbus_exceptions.h"

// What the operator is told when an exchange fails: the device, the address
// and what to check, in words rather than codes.

namespace ostrand {
namespace {

QString hexFunction(int function)
{
    return QStringLiteral("0x%1").arg(function, 2, 16, QLatin1Char('0'));
}

QString meaning(int exceptionCode)
{
    const QString name = exceptionName(exceptionCode);
    return name.isEmpty() ? QStringLiteral("exception %1").arg(exceptionCode) : name;
}

} // namespace

QString failureText(const LinkFailure &failure, const QString &during)
{
    // A write that failed because the device went away is the same lost line.
    const bool portGone = failure.error == LinkError::PortNotOpen || failure.error == LinkError::SendFailed;
    if (portGone && failure.lineLost && !during.isEmpty()) {
        // A device server is reached by address: the adapter is not what to look at.
        const bool network = failure.port.contains(QLatin1String("://"));
        return QStringLiteral("lost the line to %1 during %2: the device went away (%3); check %4, then start again")
            .arg(failure.port, during, failure.lostLineReason,
                 network ? QStringLiteral("that the device server is on and can be reached")
                         : QStringLiteral("that the adapter is plugged in and the cable is sound"));
    }
    switch (failure.error) {
    case LinkError::PortNotOpen:
        // The port's own report names the device and the system's reason.
        return failure.portReason.isEmpty() ? QStringLiteral("the port would not open") : failure.portReason;
    case LinkError::SendFailed:
        return failure.portReason.isEmpty()
                   ? QStringLiteral("the request could not be sent")
                   : QStringLiteral("the request could not be sent: %1").arg(failure.portReason);
    case LinkError::TimedOut:
        return QStringLiteral("No answer from address %1 on %2 at %3 baud within %4 s: check the "
                              "cable, the baud rate and the address")
            .arg(failure.slave)
            .arg(failure.port, failure.baudRate)
            .arg(failure.waited, 0, 'g', 3);
    case LinkError::CrcError:
        return QStringLiteral("the reply's CRC was wrong");
    case LinkError::EchoMissing:
        return QStringLiteral("the echo of the request did not come back: is echo set for this line?");
    case LinkError::LineEchoes:
        return QStringLiteral("the line returned the request itself before any reply: set echo for this line "
                              "(a 2-wire RS-485 adapter)");
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
            .arg(failure.slave)
            .arg(hexFunction(failure.function), meaning(failure.exceptionCode));
    }
    return QStringLiteral("the exchange failed");
}

} // namespace ostrand
