#include "fake_serial_port.h"

#include <algorithm>

namespace ostrand {

FakeSerialPort::FakeSerialPort(VirtualClock &clock) : clock_(clock) {}

bool FakeSerialPort::open(int portNumber, const QString &baudText)
{
    settle();
    opens_.push_back(OpenCall{portNumber, baudText});
    if (open_)
        return true;
    bool numeric = false;
    const int baud = baudText.trimmed().toInt(&numeric);
    if (portNumber < 1)
        error_ = QStringLiteral("No COM port chosen");
    else if (!numeric || baud <= 0)
        error_ = QStringLiteral("Baud rate \"%1\" is not a positive whole number").arg(baudText);
    else if (!openFailure_.isEmpty())
        error_ = openFailure_;
    else if (!pluggedIn_)
        error_ = QStringLiteral("COM%1: device not found").arg(portNumber);
    else
        error_.clear();
    open_ = error_.isEmpty();
    if (open_)
        portNumber_ = portNumber;
    return open_;
}

bool FakeSerialPort::isOpen() const { return open_; }
QString FakeSerialPort::errorString() const { return error_; }
void FakeSerialPort::discardOutput() {} // sent bytes are on the line at once: nothing to drop
void FakeSerialPort::allowOpen() { openFailure_.clear(); }
void FakeSerialPort::failOpenWith(const QString &error) { openFailure_ = error.isEmpty() ? QStringLiteral("open failed") : error; }
void FakeSerialPort::failSendsWith(const QString &error) { sendFailure_ = error.isEmpty() ? QStringLiteral("write failed") : error; }
void FakeSerialPort::setResponder(Responder responder) { responder_ = std::move(responder); }

void FakeSerialPort::close()
{
    settle();
    ++closes_;
    open_ = false;
    received_.clear();
}

void FakeSerialPort::discardInput()
{
    settle();
    ++discardInputs_;
    received_.clear();
}

bool FakeSerialPort::send(const QByteArray &bytes)
{
    settle();
    if (!open_ || !sendFailure_.isEmpty()) {
        error_ = open_ ? sendFailure_
                 : pluggedIn_ ? QStringLiteral("Port is not open") : QStringLiteral("COM%1: device vanished").arg(portNumber_);
        return false;
    }
    sends_.push_back(Sent{bytes, clock_.monotonicMs()});
    if (responder_)
        responder_(bytes, *this);
    return true;
}

int FakeSerialPort::receivedCount()
{
    settle();
    return static_cast<int>(received_.size());
}

QByteArray FakeSerialPort::read(int count)
{
    settle();
    const QByteArray taken = received_.left(std::max(count, 0));
    received_.remove(0, taken.size());
    return taken;
}

void FakeSerialPort::unplug()
{
    settle();
    if (open_)
        error_ = QStringLiteral("COM%1: device vanished").arg(portNumber_);
    open_ = pluggedIn_ = false;
    received_.clear();
}

void FakeSerialPort::plugBackIn()
{
    settle();
    pluggedIn_ = true;
}

void FakeSerialPort::deliver(const QByteArray &bytes, int delayMs, int bytesPerSecond)
{
    settle();
    if (bytes.isEmpty())
        return;
    const std::int64_t startUs = std::max(clock_.monotonicMicros() + std::int64_t(std::max(0, delayMs)) * 1000, lineFreeAtUs_);
    // Each byte is complete only once its stop bit is in; the time is worked out
    // from the start of the delivery so that long replies do not drift.
    for (int i = 0; i < bytes.size(); ++i)
        inFlight_.push_back(Arrival{bytes.at(i), bytesPerSecond > 0 ? startUs + (i + 1LL) * 1'000'000 / bytesPerSecond : startUs});
    lineFreeAtUs_ = inFlight_.back().atUs;
    settle();
}

std::int64_t FakeSerialPort::lineIdleAtMs() const
{
    return (std::max(lineFreeAtUs_, clock_.monotonicMicros()) + 999) / 1000;
}

void FakeSerialPort::settle()
{
    const std::int64_t now = clock_.monotonicMicros();
    for (; !inFlight_.empty() && inFlight_.front().atUs <= now; inFlight_.pop_front()) {
        if (open_)
            received_ += inFlight_.front().byte;
    }
}

} // namespace ostrand
