#include "tcp_line.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrand::sim {

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

TcpLine::~TcpLine()
{
    if (listener_ >= 0)
        ::close(listener_);
}

bool TcpLine::listen(const QString &host, int port, QString *error)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.toLatin1().constData(), &address.sin_addr) != 1) {
        *error = QStringLiteral("--tcp-listen: \"%1\" is not an IPv4 address").arg(host);
        return false;
    }
    // A client gone mid-reply must cost a failed write, not the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        *error = systemError("--tcp-listen");
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    listener_ = fd;
    address_ = QStringLiteral("tcp://%1:%2").arg(host).arg(ntohs(address.sin_port));
    return true;
}

int TcpLine::accept(QString *peer)
{
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const int fd = ::accept4(listener_, reinterpret_cast<sockaddr *>(&from), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return -1;
    // Replies go out as they are written, as a device server sends them.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    *peer = QStringLiteral("%1:%2").arg(QLatin1String(text)).arg(ntohs(from.sin_port));
    return fd;
}

bool parseListenAddress(const QString &text, QString *host, int *port)
{
    const int colon = text.lastIndexOf(u':');
    *host = colon < 0 ? QStringLiteral("127.0.0.1") : text.left(colon);
    bool ok = false;
    *port = text.mid(colon + 1).toInt(&ok);
    return ok && *port >= 0 && *port <= 65535 && !host->isEmpty();
}

} // namespace ostrand::sim
