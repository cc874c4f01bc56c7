#include "caller_reception.h"

#include "accepted_port.h"
#include "clock.h"
#include "socket_port.h"

#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrand {

// Hands each accepted descriptor over as it is, with no socket made of it
// on this thread: the thread that serves the caller makes its own.
class CallerReception::Server : public QTcpServer {
public:
    explicit Server(CallerReception &reception) : reception_(reception) {}

protected:
    void incomingConnection(qintptr descriptor) override { reception_.arrived(static_cast<int>(descriptor)); }

private:
    CallerReception &reception_;
};

struct CallerReception::Waiting {
    PendingCaller caller;
    std::unique_ptr<QSocketNotifier> notifier;
};

namespace {

// The peer of an accepted descriptor, an IPv4 caller on a dual-stack port as IPv4.
std::pair<QHostAddress, quint16> peerOf(int descriptor)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr *>(&storage), &length) != 0)
        return {};
    QHostAddress address(reinterpret_cast<const sockaddr *>(&storage));
    quint16 port = 0;
    if (storage.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<const sockaddr_in *>(&storage)->sin_port);
    else if (storage.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6 *>(&storage)->sin6_port);
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return {isIpv4 ? QHostAddress(ipv4) : address, port};
}

} // namespace

CallerReception::CallerReception(const Clock &clock, Limits limits, Judge judge, Taken taken, Refused refused)
    : clock_(clock), limits_(limits), judge_(std::move(judge)), taken_(std::move(taken)),
      refused_(std::move(refused)), server_(std::make_unique<Server>(*this))
{
}

CallerReception::~CallerReception()
{
    close();
}

bool CallerReception::listen(const QString &host, quint16 port)
{
    QHostAddress address(QHostAddress::Any);
    if (!host.isEmpty() && !address.setAddress(host)) {
        error_ = QStringLiteral("Cannot listen on %1:%2: not an IP address (write one of this host's, or 0.0.0.0 "
                                "for every IPv4 address)")
                     .arg(host)
                     .arg(port);
        return false;
    }
    if (!server_->listen(address, port)) {
        error_ = QStringLiteral("Cannot listen on %1: %2")
                     .arg(socketAddressText(address, port),
                          socketErrorReason(server_->serverError(), server_->errorString()));
        return false;
    }
    return true;
}

void CallerReception::close()
{
    server_->close();
    while (!waiting_.empty())
        forget(waiting_.begin()->first, true);
}

quint16 CallerReception::port() const
{
    return server_->serverPort();
}

QString CallerReception::address() const
{
    return socketAddressText(server_->serverAddress(), server_->serverPort());
}

void CallerReception::arrived(int descriptor)
{
    const auto [address, port] = peerOf(descriptor);
    auto waiting = std::make_unique<Waiting>();
    waiting->caller.descriptor = descriptor;
    waiting->caller.address = address;
    waiting->caller.peer = socketAddressText(address, port);
    waiting->caller.sinceMs = clock_.monotonicMs();
    const QString key = address.toString();
    QString full;
    if (static_cast<int>(waiting_.size()) >= limits_.maxWaiting)
        full = QStringLiteral("%1 callers are waiting to say who they are").arg(waiting_.size());
    else if (perAddress_[key] >= limits_.maxWaitingPerAddress)
        full = QStringLiteral("%1 callers from this address are waiting to say who they are").arg(perAddress_[key]);
    if (!full.isEmpty()) {
        if (refused_)
            refused_(waiting->caller, full);
        ::close(descriptor);
        return;
    }
    ++perAddress_[key];
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    waiting->notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    QObject::connect(waiting->notifier.get(), &QSocketNotifier::activated, waiting->notifier.get(),
                     [this, descriptor] { readFrom(descriptor); });
    waiting_[descriptor] = std::move(waiting);
    judge(descriptor, false);
}

void CallerReception::readFrom(int descriptor)
{
    const auto found = waiting_.find(descriptor);
    if (found == waiting_.end())
        return;
    PendingCaller &caller = found->second->caller;
    char buffer[512];
    const int room = std::max(1, std::min<int>(sizeof buffer, limits_.maxBytes - caller.bytes.size()));
    const ssize_t got = ::recv(descriptor, buffer, room, MSG_DONTWAIT);
    if (got == 0) {
        refuse(descriptor, caller.bytes.isEmpty() ? QStringLiteral("hung up without a word")
                                                  : QStringLiteral("hung up before it was known"));
        return;
    }
    if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            refuse(descriptor, QStringLiteral("the connection failed"));
        return;
    }
    caller.bytes.append(buffer, static_cast<int>(got));
    judge(descriptor, false);
}

void CallerReception::judge(int descriptor, bool timedOut)
{
    const auto found = waiting_.find(descriptor);
    if (found == waiting_.end())
        return;
    const PendingCaller &caller = found->second->caller;
    CallerVerdict verdict = judge_(caller, timedOut);
    if (verdict.kind == CallerVerdict::Kind::Wait && caller.bytes.size() >= limits_.maxBytes)
        verdict = {CallerVerdict::Kind::Refuse, -1, QStringLiteral("sent %1 bytes and no ID").arg(caller.bytes.size()), {}};
    if (verdict.kind == CallerVerdict::Kind::Wait && timedOut)
        verdict = {CallerVerdict::Kind::Refuse, -1, QStringLiteral("sent no ID in time"), {}};
    if (verdict.kind == CallerVerdict::Kind::Refuse) {
        refuse(descriptor, verdict.reason);
    } else if (verdict.kind == CallerVerdict::Kind::Take) {
        PendingCaller taken = caller;
        taken.bytes = verdict.rest;
        forget(descriptor, false);
        taken_(std::move(taken), verdict.token);
    }
}

void CallerReception::refuse(int descriptor, const QString &reason)
{
    const auto found = waiting_.find(descriptor);
    if (found == waiting_.end())
        return;
    if (refused_)
        refused_(found->second->caller, reason);
    forget(descriptor, true);
}

void CallerReception::forget(int descriptor, bool closeIt)
{
    const auto found = waiting_.find(descriptor);
    if (found == waiting_.end())
        return;
    const QString key = found->second->caller.address.toString();
    if (--perAddress_[key] <= 0)
        perAddress_.erase(key);
    // The notifier lets go of the descriptor before it is closed or handed on,
    // and is deleted once its own signal, which may have brought us here, is over.
    found->second->notifier->setEnabled(false);
    found->second->notifier.release()->deleteLater();
    waiting_.erase(found);
    if (closeIt)
        ::close(descriptor);
}

void CallerReception::expire()
{
    const std::int64_t now = clock_.monotonicMs();
    std::vector<int> late;
    for (const auto &[descriptor, waiting] : waiting_) {
        if (now - waiting->caller.sinceMs >= limits_.knownWithinMs)
            late.push_back(descriptor);
    }
    for (const int descriptor : late)
        judge(descriptor, true);
}

} // namespace ostrand
