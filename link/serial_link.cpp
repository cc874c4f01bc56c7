#include "serial_link.h"

#include "link/wait_clock.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/network_port.h"
#include "platform/serial_port.h"

#include <algorithm>
#include <cmath>

namespace ostrand {
namespace {

// Long enough to sleep rather than spin, short enough that a byte's arrival
// (which wakes the pump anyway) or a time-out is noticed promptly.
constexpr int kYieldMs = 10;

} // namespace

SerialLink::SerialLink(SerialPort &serialPort, const Clock &clock, EventPump &pump)
    : serialPort_(serialPort), port_(&serialPort),
      makeNetworkPort_([&clock, &pump](const LinkSettings &settings,
                                       const std::atomic<bool> *stopFlag) -> std::unique_ptr<SerialPort> {
          // An address that is none still gets a port: its open says what is wrong with it.
          NetworkEndpoint endpoint = parseNetworkEndpoint(settings.networkAddress).value_or(NetworkEndpoint{});
          endpoint.given = settings.networkAddress;
          return std::make_unique<NetworkPort>(endpoint, settings.connectTimeoutMs, clock, pump, stopFlag);
      }),
      clock_(clock), pump_(pump)
{
}

SerialLink::~SerialLink() = default;

void SerialLink::choosePort()
{
    SerialPort *wanted = &serialPort_;
    if (!settings_.networkAddress.isEmpty()) {
        const bool remade = !networkPort_ || networkSettings_.networkAddress != settings_.networkAddress
                            || networkSettings_.connectTimeoutMs != settings_.connectTimeoutMs;
        if (remade) {
            if (port_ == networkPort_.get())
                closePort();
            port_ = &serialPort_;
            networkPort_ = makeNetworkPort_(settings_, stopFlag_);
            networkSettings_ = settings_;
        }
        wanted = networkPort_.get();
    }
    if (wanted == port_)
        return;
    closePort();
    if (deviceHeld_) {
        port_->holdDevice(false);
        deviceHeld_ = false;
    }
    port_ = wanted;
}

bool SerialLink::openPort()
{
    choosePort();
    // A line kept open on what the user no longer chose would talk to the
    // wrong meter, or to none, until the program restarted.
    if (port_->isOpen()
        && (settings_.portNumber != openedPort_ || settings_.baudRate != openedBaudText_
            || (!deviceHeld_ && port_->leadsElsewhere(settings_.portNumber))))
        closePort();
    if (port_->isOpen()) {
        holdDeviceIfInOperation();
        return true;
    }
    held_.clear();
    if (port_->open(settings_.portNumber, settings_.baudRate)) {
        openedBaud_ = settings_.baudRate.toInt();
        openedPort_ = settings_.portNumber;
        openedBaudText_ = settings_.baudRate;
        ++openCount_;
        holdDeviceIfInOperation();
    }
    lastSeenCount_ = 0;
    return port_->isOpen();
}

void SerialLink::holdDeviceIfInOperation()
{
    if (operations_ > 0 && !deviceHeld_) {
        port_->holdDevice(true);
        deviceHeld_ = true;
    }
}

void SerialLink::endOperation()
{
    if (--operations_ == 0 && deviceHeld_) {
        port_->holdDevice(false);
        deviceHeld_ = false;
    }
}

void SerialLink::discardInput()
{
    receivedCount(); // bytes dropped unread still kept the line busy
    held_.clear();
    port_->discardInput();
    lastSeenCount_ = port_->receivedCount();
}

void SerialLink::discardOutput()
{
    port_->discardOutput();
}

bool SerialLink::sendBytes(const QByteArray &bytes)
{
    if (!port_->send(bytes))
        return false;
    lastByteBeforeSendMs_ = lastByteMs_;
    const double lastByteOutMs = clock_.monotonicMs() + wireSeconds(static_cast<int>(bytes.size())) * 1000.0;
    lineQuietFromMs_ = std::max(lineQuietFromMs_, lastByteOutMs);
    return true;
}

int SerialLink::receivedCount()
{
    const int count = port_->receivedCount();
    noteCount(count);
    return static_cast<int>(held_.size()) + count;
}

void SerialLink::noteCount(int count)
{
    if (count > lastSeenCount_) {
        lastByteMs_ = clock_.monotonicMs();
        lineQuietFromMs_ = std::max(lineQuietFromMs_, static_cast<double>(lastByteMs_));
    }
    lastSeenCount_ = count;
}

QByteArray SerialLink::peek(int count)
{
    receivedCount();
    if (held_.size() < count) {
        held_.append(port_->read(count - static_cast<int>(held_.size())));
        lastSeenCount_ = port_->receivedCount();
    }
    return held_.left(count);
}

double SerialLink::interFrameGapMs() const
{
    // The device server frames the serial side itself; the socket owes no silence.
    if (openedBaud_ <= 0 || onNetwork())
        return 0.0;
    return openedBaud_ > 19200 ? 1.75 : 3.5 * 11 * 1000.0 / openedBaud_;
}

void SerialLink::awaitInterFrameGap()
{
    for (;;) {
        receivedCount();
        // A device that needs a pause after its reply gets it whatever the rate.
        const double gapMs = std::max(interFrameGapMs(), static_cast<double>(settings_.requestGapMs));
        // The clock counts whole milliseconds: the silence may have begun up to one
        // before the tick it was seen on, so one more keeps the gap whole.
        const double waitMs = lineQuietFromMs_ + gapMs + 1 - static_cast<double>(clock_.monotonicMs());
        if (waitMs <= 0 || stopRequested())
            return;
        pump_.yield(static_cast<int>(std::ceil(waitMs)));
    }
}

std::optional<QByteArray> SerialLink::readBytes(int count)
{
    const WaitClock clock(clock_);
    const double start = clock.roundedNow();
    while (receivedCount() < count) {
        // A closed port (adapter pulled, or the program ending) brings nothing more.
        if (!port_->isOpen() || stopRequested())
            return std::nullopt;
        waitForEvent();
        if (clock.now() > start + 2)
            return std::nullopt;
    }
    QByteArray bytes = held_.left(count);
    held_.remove(0, bytes.size());
    bytes.append(port_->read(count - static_cast<int>(bytes.size())));
    lastSeenCount_ = port_->receivedCount();
    if (bytes.size() < count)
        return std::nullopt; // the device went away between counting and reading
    return bytes;
}

QByteArray SerialLink::takeEcho(int count)
{
    const std::optional<QByteArray> bytes = readBytes(count);
    if (receivedCount() == 0)
        lastByteMs_ = lastByteBeforeSendMs_;
    return bytes.value_or(QByteArray());
}

void SerialLink::closePort()
{
    held_.clear();
    port_->close();
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
    lastSeenCount_ = port_->receivedCount();
}

} // namespace ostrand
