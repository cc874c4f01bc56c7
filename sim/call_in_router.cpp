#include "call_in_router.h"

#include "byte_text.h"
#include "modbus_frame.h"
#include "router_packer.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrand::sim {

namespace {

// A connect that neither succeeds nor fails (an address that swallows the SYN) is given
// up after this long, as routers do, and counts as unreachable.
constexpr int kConnectTimeoutMs = 10000;

} // namespace

CallInRouter::CallInRouter(const SimOptions &options, const MeterContents &contents,
                           const QList<SocketAddress> &addresses, bool many, Printer say,
                           Printer trace, QObject *parent)
    : QObject(parent), options_(options), addresses_(addresses),
      id_(registrationId(options.callIn, options.meterNumber)),
      idMode_(options.callIn.idModeOf(options.meterNumber)), say_(std::move(say))
{
    name_ =
        id_.isEmpty() ? QStringLiteral("meter-%1").arg(options.meterNumber) : printableBytes(id_);
    service_ = new MeterService(options_, contents, many ? name_ : QString(), this);
    service_->setPrinters(say_, options_.verbose ? std::move(trace) : Printer());
    packer_ = new RouterPacker(options_.baud, options_.callIn.packetBytes, this);
    service_->setSink(
        [this](const QByteArray &bytes, int dropAfter) { packer_->write(bytes, dropAfter); });
    packer_->setPacketSink([this](const QByteArray &packet) { sendPacket(packet); });
    connect(packer_, &RouterPacker::dropReached, this, [this] {
        drop(QStringLiteral("a fault dropped the line"), options_.callIn.leaveStale);
    });

    reconnectTimer_.setSingleShot(true);
    connect(&reconnectTimer_, &QTimer::timeout, this, &CallInRouter::connectNext);
    connectTimeout_.setSingleShot(true);
    connect(&connectTimeout_, &QTimer::timeout, this, [this] {
        say_(QStringLiteral("unreachable %1 %2: no answer within %3 s")
                 .arg(name_, peer_)
                 .arg(kConnectTimeoutMs / 1000));
        closeSocket();
        retryLater();
    });
    heartbeatTimer_.setInterval(options_.callIn.heartbeatMsOf(options_.meterNumber));
    connect(&heartbeatTimer_, &QTimer::timeout, this, &CallInRouter::sendHeartbeat);
}

CallInRouter::~CallInRouter()
{
    stop();
}

void CallInRouter::start()
{
    connectNext();
}

void CallInRouter::stop()
{
    reconnectTimer_.stop();
    closeSocket();
    for (const int fd : std::as_const(stale_))
        ::close(fd);
    stale_.clear();
}

void CallInRouter::connectNext()
{
    const SocketAddress &address = addresses_.at(nextAddress_);
    // Whatever becomes of this connect, the next one goes to the next address.
    nextAddress_ = (nextAddress_ + 1) % int(addresses_.size());
    peer_ = address.text;
    QString error;
    fd_ = startConnect(address, options_.callIn.sourceOf(options_.meterNumber), &error);
    if (fd_ < 0) {
        say_(QStringLiteral("unreachable %1 %2: %3").arg(name_, peer_, error));
        retryLater();
        return;
    }
    connecting_ = true;
    writable_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
    connect(writable_, &QSocketNotifier::activated, this, &CallInRouter::onWritable);
    connectTimeout_.start(kConnectTimeoutMs);
}

void CallInRouter::onConnectFinished()
{
    connectTimeout_.stop();
    connecting_ = false;
    const QString error = connectOutcome(fd_);
    if (!error.isEmpty()) {
        say_(QStringLiteral("unreachable %1 %2: %3").arg(name_, peer_, error));
        closeSocket();
        retryLater();
        return;
    }
    onConnected();
}

void CallInRouter::onConnected()
{
    writable_->setEnabled(false);
    readable_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, &CallInRouter::onReadable);
    service_->newLine();
    say_(QStringLiteral("connected %1 %2").arg(name_, peer_));
    service_->trace(QStringLiteral("connected to %1").arg(peer_));
    // Routers that register send the ID alone as soon as the connection stands, in both
    // modes; "every" then puts it in front of each packet as well.
    if (idMode_ != IdMode::None)
        send(id_);
    if (options_.callIn.heartbeatMsOf(options_.meterNumber) > 0)
        heartbeatTimer_.start();
}

void CallInRouter::onReadable()
{
    QByteArray bytes;
    char buffer[4096];
    QString closedWhy;
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            bytes.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            closedWhy = QStringLiteral("the collector closed the connection");
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            closedWhy = QString::fromLocal8Bit(strerror(errno));
        break;
    }
    if (!bytes.isEmpty())
        service_->receive(bytes, packer_->msSinceLastByte());
    if (!closedWhy.isEmpty() && fd_ >= 0)
        drop(closedWhy);
}

void CallInRouter::onWritable()
{
    if (connecting_) {
        onConnectFinished();
        return;
    }
    while (fd_ >= 0 && !outbox_.isEmpty()) {
        const ssize_t n = ::send(fd_, outbox_.constData(), size_t(outbox_.size()), MSG_NOSIGNAL);
        if (n > 0) {
            outbox_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        drop(QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    if (writable_)
        writable_->setEnabled(!outbox_.isEmpty());
}

void CallInRouter::send(const QByteArray &bytes)
{
    if (fd_ < 0 || connecting_ || bytes.isEmpty())
        return;
    // Each send leaves as one write, so a packet is never split by a heartbeat.
    outbox_.append(bytes);
    onWritable();
}

void CallInRouter::sendPacket(const QByteArray &packet)
{
    service_->trace(QStringLiteral("packet -> %1").arg(QString::fromLatin1(hexText(packet))));
    send(idMode_ == IdMode::Every ? id_ + packet : packet);
}

void CallInRouter::sendHeartbeat()
{
    service_->trace(QStringLiteral("heartbeat"));
    send(options_.callIn.heartbeat);
}

void CallInRouter::closeSocket(bool leaveOpen)
{
    connectTimeout_.stop();
    heartbeatTimer_.stop();
    // This may run inside a notifier's own signal, so the notifiers go later.
    for (QSocketNotifier **notifier : {&readable_, &writable_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    if (fd_ >= 0 && leaveOpen) {
        // One stale connection beside the live one is the case worth having; more would
        // only run the simulator out of descriptors on a line that keeps dropping.
        for (const int fd : std::as_const(stale_))
            ::close(fd);
        stale_ = {fd_};
    } else if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    connecting_ = false;
    outbox_.clear();
    packer_->reset();
    service_->lineGone();
}

void CallInRouter::drop(const QString &why, bool leaveOpen)
{
    if (fd_ < 0)
        return;
    closeSocket(leaveOpen);
    say_(QStringLiteral("dropped %1: %2%3")
             .arg(name_, why, leaveOpen ? QStringLiteral(" (left open, silent)") : QString()));
    retryLater();
}

void CallInRouter::retryLater()
{
    reconnectTimer_.start(options_.callIn.reconnectAfterMs);
}

} // namespace ostrand::sim
