#include "network_port.h"

#include "clock.h"
#include "event_pump.h"

namespace ostrand {

NetworkPort::NetworkPort(NetworkEndpoint endpoint, int connectTimeoutMs, const Clock &clock, EventPump &pump,
                         const std::atomic<bool> *stopFlag)
    : SocketPort(std::make_unique<QTcpSocket>()), endpoint_(std::move(endpoint)), connectTimeoutMs_(connectTimeoutMs),
      clock_(clock), pump_(pump), stopFlag_(stopFlag)
{
}

bool NetworkPort::refuse(const QString &why)
{
    error_ = QStringLiteral("Cannot connect to %1: %2").arg(endpoint_.address(), why);
    socket().abort();
    telnet_.reset();
    return false;
}

PumpedWait NetworkPort::waitUntil(const std::function<bool()> &done, std::int64_t deadlineMs)
{
    return waitPumped(clock_, pump_, stopFlag_, done, deadlineMs);
}

bool NetworkPort::open(int portNumber, const QString &baudText)
{
    (void)portNumber;
    if (open_)
        return true;
    // A reconnect's own reason replaces that of the connection lost before it.
    startAfresh();
    if (endpoint_.host.isEmpty() || endpoint_.port == 0)
        return refuse(QStringLiteral("not a device server address (tcp://HOST:PORT or rfc2217://HOST:PORT)"));
    bool numeric = false;
    const int baud = baudText.trimmed().toInt(&numeric);
    if (!numeric || baud <= 0) {
        error_ = QStringLiteral("Baud rate \"%1\" is not a positive whole number").arg(baudText);
        return false;
    }
    const std::int64_t deadline = clock_.monotonicMs() + connectTimeoutMs_;
    if (!connectSocket(deadline))
        return false;
    if (endpoint_.protocol == NetworkEndpoint::Protocol::Rfc2217 && !setUpSerialSide(static_cast<quint32>(baud), deadline))
        return false;
    error_.clear();
    open_ = true;
    // Anything that came with the negotiation came before the first request.
    take();
    return true;
}

bool NetworkPort::connectSocket(std::int64_t deadlineMs)
{
    socket().abort();
    socket().connectToHost(endpoint_.host, endpoint_.port);
    const PumpedWait wait = waitUntil(
        [this] {
            const auto state = socket().state();
            return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::UnconnectedState;
        },
        deadlineMs);
    if (wait == PumpedWait::Stopped)
        return refuse(QStringLiteral("stopped while connecting"));
    if (wait == PumpedWait::TimedOut)
        return refuse(QStringLiteral("timed out: no answer within %1 s; check the address and that the "
                                     "device server is on and reachable")
                          .arg(connectTimeoutMs_ / 1000.0, 0, 'g', 3));
    if (socket().state() != QAbstractSocket::ConnectedState)
        return refuse(QStringLiteral("%1; check the address and that the device server is on and listening")
                          .arg(socketReason()));
    // A request goes out at once, not when the stack has gathered a segment's worth.
    socket().setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

bool NetworkPort::setUpSerialSide(quint32 baud, std::int64_t deadlineMs)
{
    telnet_.emplace();
    socket().write(telnet_->opening());
    socket().flush();
    const auto lost = [this] { return socket().state() != QAbstractSocket::ConnectedState; };
    PumpedWait wait = waitUntil(
        [&] {
            take();
            return lost() || telnet_->portControl() != TelnetCodec::PortControl::Pending;
        },
        deadlineMs);
    if (wait == PumpedWait::Done && !lost() && telnet_->portControl() == TelnetCodec::PortControl::Refused)
        return refuse(QStringLiteral("the device server does not take RFC 2217 port settings; use tcp:// "
                                     "and set its serial port to the meter's speed, 8N1"));
    if (wait == PumpedWait::Done && !lost()) {
        socket().write(TelnetCodec::portSettings(baud));
        socket().flush();
        // Each setting is acknowledged with the value the server now uses, which
        // may not be the one asked: a line at another speed would only ever
        // give "no answer", so a difference ends the connect at once.
        wait = waitUntil(
            [&] {
                take();
                const TelnetCodec::Acknowledged &got = telnet_->acknowledged();
                return lost() || got.complete() || !TelnetCodec::differences(baud, got).isEmpty();
            },
            deadlineMs);
    }
    if (wait == PumpedWait::Stopped)
        return refuse(QStringLiteral("stopped while setting up the serial port"));
    if (const QStringList differ = TelnetCodec::differences(baud, telnet_->acknowledged()); !differ.isEmpty()) {
        refuse(QString());
        error_ = QStringLiteral("%1 set %2: check what the device server's serial port allows")
                     .arg(endpoint_.address(), differ.join(QStringLiteral("; and ")));
        return false;
    }
    if (lost())
        return refuse(socketReason());
    if (wait == PumpedWait::TimedOut)
        return refuse(QStringLiteral("the device server did not confirm the serial port's settings within %1 s")
                          .arg(connectTimeoutMs_ / 1000.0, 0, 'g', 3));
    return true;
}

} // namespace ostrand
