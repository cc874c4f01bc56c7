#pragma once

namespace ostrand {

// Why an exchange with the meter came to nothing.
enum class LinkError {
    PortNotOpen,     // the port could not be opened, or the adapter went away
    TimedOut,        // no complete reply within the exchange's time
    CrcError,        // a complete reply whose CRC was wrong
    WrongReply,      // a reply that answers another request (a late one)
    Busy,            // another exchange was waiting; the port was not touched
    SlaveOutOfRange, // the address does not fit the frame's one byte; nothing was sent
    Stopped,         // the user stopped the operation while the exchange waited
    // The meter answered with a Modbus exception: it will not do what was asked.
    IllegalFunction,    // exception 1
    IllegalDataAddress, // exception 2
    IllegalDataValue,   // exception 3
    SlaveDeviceFailure, // exception 4
    Refused,            // any other exception code that is not "try again"
    // The request could not be written to the port (a write error, a device gone).
    SendFailed,
    // The line was set to echo, and the request's own bytes did not come back
    // before the reply (or came back other than sent).
    EchoMissing,
    // The line was not set to echo, and what came back began with the request
    // itself: an adapter that returns what it sends.
    LineEchoes,
};

// The meter answered that it will not do this: asking again cannot help.
inline bool isRefusal(LinkError error)
{
    return error >= LinkError::IllegalFunction && error <= LinkError::Refused;
}

} // namespace ostrand
