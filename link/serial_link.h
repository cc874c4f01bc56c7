#pragma once

#include "link/link_settings.h"
#include "platform/serial_port.h"

#include <QByteArray>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

namespace ostrand {

class Clock;
class EventPump;
class SerialPort;

// The thin layer every exchange uses: open on demand with the configured port
// and speed, discard, send, count and read with the 2 s byte time-out.
class SerialLink {
public:
    // Makes the port to a device server for the settings' network address;
    // `stopFlag` is the link's, so a connect under way ends on Stop.
    using NetworkPortMaker =
        std::function<std::unique_ptr<SerialPort>(const LinkSettings &settings, const std::atomic<bool> *stopFlag)>;

    // `serialPort` serves settings without a network address; one with an
    // address gets a device server's port, made when first opened.
    SerialLink(SerialPort &serialPort, const Clock &clock, EventPump &pump);
    ~SerialLink();
    // Replaces the real device server ports (tests give a scripted one).
    void setNetworkPortMaker(NetworkPortMaker maker) { makeNetworkPort_ = std::move(maker); }

    // The port and speed the next exchange uses: an open port on another port,
    // speed or device is closed and the new one opened.
    void setSettings(const LinkSettings &settings) { settings_ = settings; }
    const LinkSettings &settings() const { return settings_; }

    // Opens the port with the settings' port and speed unless it is open on
    // exactly those (and the device COMn leads to now); true when open.
    bool openPort();
    void discardInput();
    void discardOutput();
    // False when the port would not take them (not open, a write error); its errorString() says why.
    bool sendBytes(const QByteArray &bytes);
    // Received bytes not yet read.
    int receivedCount();
    // Waits up to about 2 s for `count` bytes and takes exactly that many.
    std::optional<QByteArray> readBytes(int count);
    // Up to `count` of the received bytes not yet read, leaving them unread.
    QByteArray peek(int count);
    // Lets the window run until the line has been quiet, in both directions,
    // for the silence that ends a Modbus RTU frame at the open rate, or for the
    // settings' request gap when that is longer.
    void awaitInterFrameGap();
    // Takes `count` received bytes that are the line's echo of the request
    // just sent: read as any others, but no news of a reply, so lastByteMs()
    // goes back to what it was before the request unless more came after them.
    QByteArray takeEcho(int count);
    // That silence in milliseconds: 3.5 characters of 11 bits (start, 8 data,
    // parity or second stop, stop: the Modbus worst case, so a slave framed
    // for 8E1 or 8N2 still sees it), never under 1.75 ms above 19200 baud.
    double interFrameGapMs() const;
    // Monotonic ms of the last byte on the line either way, as far as seen.
    double lineQuietFromMs() const { return lineQuietFromMs_; }
    // Closes the port (the modem hang-up); the next exchange opens it again.
    void closePort();

    // Brackets an operation of several exchanges: the device its first
    // exchange opens is the one every later exchange of it reopens, whatever a
    // COMn link is pointed at meanwhile. Operations may nest.
    void beginOperation() { ++operations_; }
    void endOperation();

    // Set by whoever may stop the operation (the window's Stop, its exit):
    // every wait below ends as soon as it is seen.
    void setStopFlag(const std::atomic<bool> *flag) { stopFlag_ = flag; }
    bool stopRequested() const { return stopFlag_ && stopFlag_->load(); }
    const std::atomic<bool> *stopFlag() const { return stopFlag_; }

    // Lets the window process what is pending, without waiting.
    void yield();
    // Inside a wait: lets the window run, sleeping until something happens
    // (a byte arrives, a timer fires) or a few milliseconds pass.
    void waitForEvent();

    // Seconds that `bytes` take on the line at the rate the port was opened with.
    double wireSeconds(int bytes) const;
    // Monotonic time of the latest byte seen arriving since markExchangeStart().
    std::int64_t lastByteMs() const { return lastByteMs_; }
    void markExchangeStart();

    // Times the port went from closed to open: a caller that sees it change
    // across its exchanges knows the line was reopened (and another device may
    // now be on it).
    int openCount() const { return openCount_; }

    const Clock &clock() const { return clock_; }
    EventPump &pump() { return pump_; }
    // The port the settings lead to: the serial port, or the device server's
    // once a network address was opened.
    SerialPort &port() { return *port_; }
    // Whether the port in use is a device server's, reached over the network.
    bool onNetwork() const { return port_ != &serialPort_ || port_->overNetwork(); }

    static constexpr std::int64_t kNoByte = std::numeric_limits<std::int64_t>::min();

private:
    void noteCount(int count);
    void holdDeviceIfInOperation();
    // Points port_ at what the settings name, closing the port left behind.
    void choosePort();

    SerialPort &serialPort_;
    SerialPort *port_;
    std::unique_ptr<SerialPort> networkPort_;
    LinkSettings networkSettings_; // what networkPort_ was made for
    NetworkPortMaker makeNetworkPort_;
    const Clock &clock_;
    EventPump &pump_;
    LinkSettings settings_;
    int openedBaud_ = 0;
    int openedPort_ = 0;
    QString openedBaudText_;
    int openCount_ = 0;
    int operations_ = 0;
    bool deviceHeld_ = false;
    int lastSeenCount_ = 0;
    std::int64_t lastByteMs_ = kNoByte;
    std::int64_t lastByteBeforeSendMs_ = kNoByte;
    // When the line last carried a byte either way, for the inter-frame gap.
    double lineQuietFromMs_ = -1e18;
    QByteArray held_; // bytes taken from the port by peek(), still unread
    const std::atomic<bool> *stopFlag_ = nullptr;
};

} // namespace ostrand
