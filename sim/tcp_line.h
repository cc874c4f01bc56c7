#pragma once

#include <QString>

namespace ostrand::sim {

// The meter served straight on TCP, as a device server would put it: one
// listening socket, one connection at a time; others wait in the backlog
// until it closes.
class TcpLine {
public:
    TcpLine() = default;
    ~TcpLine();
    TcpLine(const TcpLine &) = delete;
    TcpLine &operator=(const TcpLine &) = delete;

    // Listens on `host` (an IPv4 address) and `port` (0: one the system picks).
    // False with `error` set on failure.
    bool listen(const QString &host, int port, QString *error);
    int listenFd() const { return listener_; }
    // "tcp://HOST:PORT" as bound.
    QString address() const { return address_; }

    // Takes the next waiting connection; -1 when none waits. The descriptor is the caller's.
    int accept(QString *peer);

private:
    int listener_ = -1;
    QString address_;
};

// "[HOST:]PORT" as --tcp-listen takes it: the host defaults to 127.0.0.1.
bool parseListenAddress(const QString &text, QString *host, int *port);

} // namespace ostrand::sim
