#include "serial_link.h"

#include "link/wait_clock.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/serial_port.h"

namespace ostrand {
namespace {

// Long enough to sleep rather than spin, short enough that a byte's arrival
// (which wakes the pump anyway) or a time-out is noticed promptly.
constexpr int kYieldMs = 10;

} // namespace

SerialLink::SerialLink(SerialPort &port, const Clock &clock, EventPump &pump, const SharedState &shared)
    : port_(port), clock_(clock), pump_(pump), shared_(shared)
{
}

bool SerialLink::OpenPort()
{
    if (port_.isOpen())
        return true;
    if (port_.open(shared_.CommPortNumber, shared_.BaudRateText)) {
        openedBaud_ = shared_.BaudRateText.toInt();
        ++openCount_;
    }
    lastSeenCount_ = 0;
    return port_.isOpen();
}

void SerialLink::DiscardInput()
{
    port_.discardInput();
    lastSeenCount_ = port_.receivedCount();
}

void SerialLink::DiscardOutput()
{
    port_.discardOutput();
}

void SerialLink::SendBytes(const QByteArray &bytes)
{
    port_.send(bytes);
}

int SerialLink::ReceivedCount()
{
    const int count = port_.receivedCount();
    noteCount(count);
    return count;
}

void SerialLink::noteCount(int count)
{
    if (count > lastSeenCount_)
        lastByteMs_ = clock_.monotonicMs();
    lastSeenCount_ = count;
}

bool SerialLink::ReadBytes(int count)
{
    const WaitClock clock(clock_);
    const double start = clock.roundedNow();
    while (ReceivedCount() < count) {
        waitForEvent();
        if (clock.now() > start + 2)
            return false;
    }
    QByteArray bytes = port_.read(count);
    lastSeenCount_ = port_.receivedCount();
    if (bytes.size() < count)
        return false; // the device went away between counting and reading
    ReceiveBuffer = bytes;
    return true;
}

void SerialLink::ClosePort()
{
    port_.close();
    lastSeenCount_ = 0;
}

void SerialLink::yield()
{
    pump_.yield(0);
}

void SerialLink::waitForEvent()
{
    pump_.yield(kYieldMs);
}

double SerialLink::wireSeconds(int bytes) const
{
    // 8 data bits, no parity, 1 stop bit: ten bit times a byte.
    return openedBaud_ > 0 ? bytes * 10.0 / openedBaud_ : 0.0;
}

void SerialLink::markExchangeStart()
{
    lastByteMs_ = kNoByte;
    lastSeenCount_ = port_.receivedCount();
}

} // namespace ostrand
