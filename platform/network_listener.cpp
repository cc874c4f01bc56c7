#include "network_listener.h"

#include "clock.h"

#include <QHostAddress>
#include <algorithm>

namespace ostrand {

NetworkListener::NetworkListener(const Clock &clock, EventPump &pump, const std::atomic<bool> *stopFlag,
                                 int maxWaiting)
    : clock_(clock), pump_(pump), stopFlag_(stopFlag), maxWaiting_(std::max(1, maxWaiting))
{
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { acceptPending(); });
}

NetworkListener::~NetworkListener()
{
    QObject::disconnect(&server_, nullptr, &server_, nullptr);
}

bool NetworkListener::listen(const QString &host, quint16 port)
{
    close();
    host_ = host.trimmed();
    QHostAddress address(QHostAddress::Any);
    if (!host_.isEmpty() && !address.setAddress(host_)) {
        error_ = QStringLiteral("Cannot listen on %1: not an IP address (write one of this host's, or 0.0.0.0 "
                                "for every IPv4 address)")
                     .arg(QStringLiteral("%1:%2").arg(host_).arg(port));
        return false;
    }
    if (!server_.listen(address, port)) {
        error_ = QStringLiteral("Cannot listen on %1: %2")
                     .arg(socketAddressText(address, port),
                          socketErrorReason(server_.serverError(), server_.errorString()));
        return false;
    }
    error_.clear();
    return true;
}

void NetworkListener::close()
{
    server_.close();
    waiting_.clear();
}

QString NetworkListener::address() const
{
    return socketAddressText(server_.serverAddress(), server_.serverPort());
}

void NetworkListener::acceptPending()
{
    while (server_.hasPendingConnections()) {
        std::unique_ptr<QTcpSocket> socket(server_.nextPendingConnection());
        // Owned by its port from here on, so it outlives neither the port nor, if refused, this call.
        socket->setParent(nullptr);
        if (waitingCount() >= maxWaiting_) {
            // Those that hung up before anyone took them make room first:
            // a flood of connect-and-go must not crowd out a caller still there.
            waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(),
                                          [](const std::unique_ptr<AcceptedPort> &port) { return port->lineLost(); }),
                           waiting_.end());
        }
        if (waitingCount() >= maxWaiting_) {
            socket->abort();
            ++refused_;
            continue;
        }
        waiting_.push_back(std::make_unique<AcceptedPort>(std::move(socket), address()));
    }
}

NetworkListener::NextCaller NetworkListener::nextCaller(int timeoutMs)
{
    NextCaller next;
    if (!isListening() && waiting_.empty()) {
        next.outcome = NextCaller::Outcome::NotListening;
        return next;
    }
    const PumpedWait wait = waitPumped(
        clock_, pump_, stopFlag_, [this] { return !waiting_.empty(); }, clock_.monotonicMs() + timeoutMs);
    if (wait == PumpedWait::Stopped) {
        next.outcome = NextCaller::Outcome::Stopped;
    } else if (wait == PumpedWait::TimedOut) {
        next.outcome = NextCaller::Outcome::TimedOut;
    } else {
        next.outcome = NextCaller::Outcome::Accepted;
        next.port = std::move(waiting_.front());
        waiting_.pop_front();
    }
    return next;
}

} // namespace ostrand
