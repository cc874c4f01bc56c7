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
};

} // namespace ostrand
