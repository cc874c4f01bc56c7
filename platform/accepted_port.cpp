#include "accepted_port.h"

#include <QHostAddress>

namespace ostrand {

QString socketAddressText(const QHostAddress &host, quint16 port)
{
    bool isIpv4 = false;
    const quint32 ipv4 = host.toIPv4Address(&isIpv4);
    const QString shown = isIpv4 ? QHostAddress(ipv4).toString() : QStringLiteral("[%1]").arg(host.toString());
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}

AcceptedPort::AcceptedPort(std::unique_ptr<QTcpSocket> socket, QString listenAddress)
    : SocketPort(std::move(socket)), listenAddress_(std::move(listenAddress))
{
    peer_ = socketAddressText(this->socket().peerAddress(), this->socket().peerPort());
    // A request goes out at once, and a router gone without a word (its
    // cellular link dropped) is noticed in the end even with nothing sent.
    this->socket().setSocketOption(QAbstractSocket::LowDelayOption, 1);
    this->socket().setSocketOption(QAbstractSocket::KeepAliveOption, 1);
}

QString AcceptedPort::name() const
{
    return QStringLiteral("tcp caller %1 on %2").arg(peer_, listenAddress_);
}

bool AcceptedPort::open(int portNumber, const QString &baudText)
{
    (void)portNumber;
    (void)baudText;
    if (open_)
        return true;
    if (closedHere_)
        error_ = QStringLiteral("%1 was closed here; only the caller can call again").arg(name());
    else if (!lineLost())
        error_ = QStringLiteral("lost the line to %1: %2").arg(name(), socketReason());
    return false;
}

void AcceptedPort::close()
{
    closedHere_ = true;
    SocketPort::close();
}

} // namespace ostrand
