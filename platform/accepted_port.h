#pragma once

#include "socket_port.h"

namespace ostrand {

// A meter's serial line that called in: a connection a listener accepted,
// carrying raw RTU bytes both ways. It is open from the start and cannot be
// opened again once closed or lost, since only the caller can call again.
class AcceptedPort : public SocketPort {
public:
    // Takes `socket`, connected by the listener at `listenAddress` ("0.0.0.0:4100").
    AcceptedPort(std::unique_ptr<QTcpSocket> socket, QString listenAddress);

    // True at once while the caller is connected; the speed is the caller's
    // own (a router's serial side is set on the router), so `baudText` is not used.
    bool open(int portNumber, const QString &baudText) override;
    void close() override;

    // The caller's address as "10.0.0.5:40122" (an IPv4 caller shown as IPv4
    // even on a dual-stack listener).
    QString peerAddress() const { return peer_; }

protected:
    // "tcp caller 10.0.0.5:40122 on 0.0.0.0:4100"
    QString name() const override;

private:
    QString peer_;
    QString listenAddress_;
    bool closedHere_ = false;
};

// "HOST:PORT" with an IPv6 host in brackets and an IPv4-mapped one as IPv4.
QString socketAddressText(const QHostAddress &host, quint16 port);

} // namespace ostrand
