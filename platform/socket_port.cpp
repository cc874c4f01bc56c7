#include "socket_port.h"

namespace ostrand {

QString socketErrorReason(QAbstractSocket::SocketError error, const QString &systemText)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return QStringLiteral("connection refused");
    case QAbstractSocket::HostNotFoundError: return QStringLiteral("no such host");
    case QAbstractSocket::RemoteHostClosedError: return QStringLiteral("closed by the far end");
    case QAbstractSocket::SocketTimeoutError: return QStringLiteral("timed out");
    case QAbstractSocket::AddressInUseError: return QStringLiteral("address in use");
    case QAbstractSocket::SocketAccessError: return QStringLiteral("permission denied (%1)").arg(systemText);
    case QAbstractSocket::SocketAddressNotAvailableError: return QStringLiteral("not an address of this host");
    case QAbstractSocket::NetworkError: return QStringLiteral("unreachable (%1)").arg(systemText);
    default: return systemText;
    }
}

SocketPort::SocketPort(std::unique_ptr<QTcpSocket> socket) : socket_(std::move(socket))
{
    open_ = socket_->state() == QAbstractSocket::ConnectedState;
    // Bounded here too, so a far end that floods waits on its own side of the
    // connection rather than in this process's memory.
    socket_->setReadBufferSize(kMaxBufferedBytes);
    // Bytes are taken as they come, so those sent just before the far end
    // closed are not lost with the connection.
    QObject::connect(socket_.get(), &QTcpSocket::readyRead, socket_.get(), [this] { take(); });
    QObject::connect(socket_.get(), &QTcpSocket::disconnected, socket_.get(), [this] { noteLost(); });
    QObject::connect(socket_.get(), &QTcpSocket::errorOccurred, socket_.get(), [this] { noteLost(); });
}

SocketPort::~SocketPort()
{
    // The subclass that names the line is gone already: no handler may run now.
    QObject::disconnect(socket_.get(), nullptr, socket_.get(), nullptr);
    socket_->abort();
}

QString SocketPort::socketReason() const
{
    return socketErrorReason(socket_->error(), socket_->errorString());
}

void SocketPort::startAfresh()
{
    lostReason_.clear();
    received_.clear();
}

void SocketPort::take()
{
    takeUpTo(kMaxBufferedBytes - received_.size());
}

void SocketPort::takeUpTo(qint64 limit)
{
    if (!socket_->isOpen() || limit <= 0)
        return;
    const QByteArray bytes = socket_->read(limit);
    if (bytes.isEmpty())
        return;
    if (!telnet_) {
        received_.append(bytes);
        return;
    }
    const TelnetCodec::Decoded decoded = telnet_->decode(bytes);
    received_.append(decoded.data);
    if (!decoded.reply.isEmpty() && socket_->state() == QAbstractSocket::ConnectedState)
        socket_->write(decoded.reply);
}

void SocketPort::noteLost()
{
    // What the far end sent last is kept whatever the room: the socket's own
    // buffer bounds it, and it may be the end of a reply.
    takeUpTo(socket_->bytesAvailable());
    if (!open_)
        return;
    open_ = false;
    lostReason_ = socketReason();
    error_ = QStringLiteral("lost the line to %1: %2").arg(name(), lostReason_);
}

void SocketPort::close()
{
    open_ = false;
    socket_->abort();
    telnet_.reset();
    received_.clear();
}

void SocketPort::discardInput()
{
    // Only what is already here: a far end that keeps sending cannot hold this up.
    for (;;) {
        take();
        if (received_.isEmpty())
            return;
        received_.clear();
    }
}

bool SocketPort::send(const QByteArray &bytes)
{
    if (!open_) {
        if (error_.isEmpty())
            error_ = QStringLiteral("%1 is not connected").arg(name());
        return false;
    }
    const QByteArray wire = telnet_ ? TelnetCodec::encode(bytes) : bytes;
    if (socket_->bytesToWrite() + wire.size() > kMaxBufferedBytes) {
        error_ = QStringLiteral("%1 takes nothing of what is sent: %2 bytes still wait to go out")
                     .arg(name())
                     .arg(socket_->bytesToWrite());
        return false;
    }
    if (socket_->write(wire) != wire.size()) {
        error_ = QStringLiteral("%1: %2").arg(name(), socket_->errorString());
        return false;
    }
    // Out now, so a reply time counts from when the request really left.
    socket_->flush();
    return open_;
}

int SocketPort::receivedCount()
{
    take();
    return static_cast<int>(received_.size());
}

QByteArray SocketPort::read(int count)
{
    take();
    if (count <= 0)
        return {};
    QByteArray bytes = received_.left(count);
    received_.remove(0, bytes.size());
    return bytes;
}

} // namespace ostrand
