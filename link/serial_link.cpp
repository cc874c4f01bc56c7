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

SerialLink::SerialLink(SerialPort &port, const Clock &clock, EventPump &pump)
    : port_(port), clock_(clock), pump_(pump)
{
}

bool SerialLink::openPort()
{
    if (port_.isOpen())
        return true;
    if (port_.open(settings_.portNumber, settings_.baudRate)) {
        openedBaud_ = settings_.baudRate.toInt();
        ++openCount_;
    }
    lastSeenCount_ = 0;
    return port_.isOpen();
}

void SerialLink::discardInput()
{
    port_.discardInput();
    lastSeenCount_ = port_.receivedCount();
}

void SerialLink::discardOutput()
{
    port_.discardOutput();
}

void SerialLink::sendBytes(const QByteArray &bytes)
{
    port_.send(bytes);
}

int SerialLink::receivedCount()
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

std::optional<QByteArray> SerialLink::readBytes(int count)
{
    const WaitClock clock(clock_);
    const double start = clock.roundedNow();
    while (receivedCount() < count) {
        waitForEvent();
        if (clock.now() > start + 2)
            return std::nullopt;
    }
    QByteArray bytes = port_.read(count);
    lastSeenCount_ = port_.receivedCount();
    if (bytes.size() < count)
        return std::nullopt; // the device went away between counting and reading
    return bytes;
}

void SerialLink::closePort()
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
