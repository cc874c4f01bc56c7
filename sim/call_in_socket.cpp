#include "call_in_socket.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <unistd.h>

namespace ostrand::sim {

QString sourceText(quint32 source)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(source >> 24)
        .arg((source >> 16) & 0xFF)
        .arg((source >> 8) & 0xFF)
        .arg(source & 0xFF);
}

bool resolveAddresses(const QList<CallInAddress> &addresses, QList<SocketAddress> *resolved,
                      QString *error)
{
    QList<SocketAddress> out;
    for (const CallInAddress &address : addresses) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        const QByteArray port = QByteArray::number(address.port);
        const int status =
            getaddrinfo(address.host.toUtf8().constData(), port.constData(), &hints, &found);
        if (status != 0 || !found) {
            *error = QStringLiteral("--call-in: cannot find %1: %2")
                         .arg(address.host, QString::fromLocal8Bit(gai_strerror(status)));
            return false;
        }
        SocketAddress one;
        std::memcpy(&one.storage, found->ai_addr, found->ai_addrlen);
        one.length = found->ai_addrlen;
        one.text = address.text();
        freeaddrinfo(found);
        out << one;
    }
    *resolved = out;
    return true;
}

int startConnect(const SocketAddress &address, quint32 source, QString *error)
{
    // A collector gone mid-packet must cost a failed write, not the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    const int fd =
        ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return -1;
    }
    // Each packet leaves as the router sends it, not merged with the next.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (source != 0) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(source);
        if (::bind(fd, reinterpret_cast<const sockaddr *>(&from), sizeof from) != 0) {
            *error = QStringLiteral("cannot connect from %1: %2")
                         .arg(sourceText(source), QString::fromLocal8Bit(strerror(errno)));
            ::close(fd);
            return -1;
        }
    }
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address.storage), address.length) != 0 &&
        errno != EINPROGRESS) {
        *error = QString::fromLocal8Bit(strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

QString connectOutcome(int fd)
{
    int code = 0;
    socklen_t length = sizeof code;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0)
        code = errno;
    return code == 0 ? QString() : QString::fromLocal8Bit(strerror(code));
}

bool allowOpenFiles(int needed, QString *error)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return true;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur >= rlim_t(needed))
        return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < rlim_t(needed)) {
        *error = QStringLiteral("%1 open files are needed, and the limit is %2 (ulimit -Hn)")
                     .arg(needed)
                     .arg(qulonglong(limit.rlim_max));
        return false;
    }
    limit.rlim_cur = rlim_t(needed);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        *error = QStringLiteral("cannot raise the open-file limit to %1: %2")
                     .arg(needed)
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return true;
}

} // namespace ostrand::sim
