#include "network_port.h"

#include "clock.h"
#include "event_pump.h"

#include <algorithm>

namespace ostrand {
namespace {

// Short enough that a stop or the deadline is seen promptly; the socket's own
// events end each wait sooner.
constexpr int kWaitSliceMs = 10;

} // namespace

NetworkPort::NetworkPort(NetworkEndpoint endpoint, int connectTimeoutMs, const Clock &clock, EventPump &pump,
                         const std::atomic<bool> *stopFlag)
    : endpoint_(std::move(endpoint)), connectTimeoutMs_(connectTimeoutMs), clock_(clock), pump_(pump),
      stopFlag_(stopFlag)
{
    // Bytes are taken as they come, so those sent just before the far end
    // closed are not lost with the connection.
    QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { take(); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_, [this] { noteLost(); });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, &socket_, [this] { noteLost(); });
}

NetworkPort::~NetworkPort()
{
    QObject::disconnect(&socket_, nullptr, &socket_, nullptr);
    socket_.abort();
}

QString NetworkPort::socketReason() const
{
    switch (socket_.error()) {
    case QAbstractSocket::ConnectionRefusedError: return QStringLiteral("connection refused");
    case QAbstractSocket::HostNotFoundError: return QStringLiteral("no such host");
    case QAbstractSocket::RemoteHostClosedError: return QStringLiteral("closed by the far end");
    case QAbstractSocket::SocketTimeoutError: return QStringLiteral("timed out");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("unreachable (%1)").arg(socket_.errorString());
    default: return socket_.errorString();
    }
}

bool NetworkPort::refuse(const QString &why)
{
    error_ = QStringLiteral("Cannot connect to %1: %2").arg(endpoint_.address(), why);
    socket_.abort();
    telnet_.reset();
    return false;
}

NetworkPort::Wait NetworkPort::waitUntil(const std::function<bool()> &done, std::int64_t deadlineMs)
{
    for (;;) {
        if (done())
            return Wait::Done;
        if (stopFlag_ && stopFlag_->load())
            return Wait::Stopped;
        const std::int64_t left = deadlineMs - clock_.monotonicMs();
        if (left <= 0)
            return Wait::TimedOut;
        // Sleeps in the event loop until the socket moves or the slice ends.
        pump_.yield(static_cast<int>(std::min<std::int64_t>(left, kWaitSliceMs)));
    }
}

bool NetworkPort::open(int portNumber, const QString &baudText)
{
    (void)portNumber;
    if (open_)
        return true;
    // A reconnect's own reason replaces that of the connection lost before it.
    lostReason_.clear();
    received_.clear();
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
    socket_.abort();
    socket_.connectToHost(endpoint_.host, endpoint_.port);
    const Wait wait = waitUntil(
        [this] {
            const auto state = socket_.state();
            return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::UnconnectedState;
        },
        deadlineMs);
    if (wait == Wait::Stopped)
        return refuse(QStringLiteral("stopped while connecting"));
    if (wait == Wait::TimedOut)
        return refuse(QStringLiteral("timed out: no answer within %1 s; check the address and that the "
                                     "device server is on and reachable")
                          .arg(connectTimeoutMs_ / 1000.0, 0, 'g', 3));
    if (socket_.state() != QAbstractSocket::ConnectedState)
        return refuse(QStringLiteral("%1; check the address and that the device server is on and listening")
                          .arg(socketReason()));
    // A request goes out at once, not when the stack has gathered a segment's worth.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

bool NetworkPort::setUpSerialSide(quint32 baud, std::int64_t deadlineMs)
{
    telnet_.emplace();
    socket_.write(telnet_->opening());
    socket_.flush();
    const auto lost = [this] { return socket_.state() != QAbstractSocket::ConnectedState; };
    Wait wait = waitUntil(
        [&] {
            take();
            return lost() || telnet_->portControl() != TelnetCodec::PortControl::Pending;
        },
        deadlineMs);
    if (wait == Wait::Done && !lost() && telnet_->portControl() == TelnetCodec::PortControl::Refused)
        return refuse(QStringLiteral("the device server does not take RFC 2217 port settings; use tcp:// "
                                     "and set its serial port to the meter's speed, 8N1"));
    if (wait == Wait::Done && !lost()) {
        socket_.write(TelnetCodec::portSettings(baud));
        socket_.flush();
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
    if (wait == Wait::Stopped)
        return refuse(QStringLiteral("stopped while setting up the serial port"));
    if (const QStringList differ = TelnetCodec::differences(baud, telnet_->acknowledged()); !differ.isEmpty()) {
        refuse(QString());
        error_ = QStringLiteral("%1 set %2: check what the device server's serial port allows")
                     .arg(endpoint_.address(), differ.join(QStringLiteral("; and ")));
        return false;
    }
    if (lost())
        return refuse(socketReason());
    if (wait == Wait::TimedOut)
        return refuse(QStringLiteral("the device server did not confirm the serial port's settings within %1 s")
                          .arg(connectTimeoutMs_ / 1000.0, 0, 'g', 3));
    return true;
}

void NetworkPort::take()
{
    if (!socket_.isOpen())
        return;
    const QByteArray bytes = socket_.readAll();
    if (bytes.isEmpty())
        return;
    if (!telnet_) {
        received_.append(bytes);
        return;
    }
    const TelnetCodec::Decoded decoded = telnet_->decode(bytes);
    received_.append(decoded.data);
    if (!decoded.reply.isEmpty() && socket_.state() == QAbstractSocket::ConnectedState)
        socket_.write(decoded.reply);
}

void NetworkPort::noteLost()
{
    take();
    if (!open_)
        return;
    open_ = false;
    lostReason_ = socketReason();
    error_ = QStringLiteral("lost the line to %1: %2").arg(endpoint_.address(), lostReason_);
}

void NetworkPort::close()
{
    // A close asked for is no lost line.
    open_ = false;
    socket_.abort();
    telnet_.reset();
    received_.clear();
}

void NetworkPort::discardInput()
{
    take();
    received_.clear();
}

bool NetworkPort::send(const QByteArray &bytes)
{
    if (!open_) {
        if (error_.isEmpty())
            error_ = QStringLiteral("%1 is not connected").arg(endpoint_.address());
        return false;
    }
    const QByteArray wire = telnet_ ? TelnetCodec::encode(bytes) : bytes;
    if (socket_.write(wire) != wire.size()) {
        error_ = QStringLiteral("%1: %2").arg(endpoint_.address(), socket_.errorString());
        return false;
    }
    // Out now, so a reply time counts from when the request really left.
    socket_.flush();
    return open_;
}

int NetworkPort::receivedCount()
{
    take();
    return static_cast<int>(received_.size());
}

QByteArray NetworkPort::read(int count)
{
    take();
    if (count <= 0)
        return {};
    QByteArray bytes = received_.left(count);
    received_.remove(0, bytes.size());
    return bytes;
}

} // namespace ostrand
