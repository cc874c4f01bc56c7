#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>
#include <deque>
#include <map>
#include <optional>

class QTcpSocket;

namespace ostrand::web {

// How much of the server one client, and all of them, may hold.
struct ConnectionLimits {
    int maxConnections = 1024;    // open at once, from everyone
    int maxPerClient = 64;        // open at once from one address
    int requestMs = 10000;        // a request (and a TLS handshake) must arrive whole within this
    int idleMs = 30000;           // a connection with nothing to read or write is closed after this
    int maxHeadBytes = 16 * 1024; // request line and headers
    int maxBodyBytes = 16 * 1024; // the site takes no bodies; this bounds what a client may send anyway
};

// Watches one connection from the moment it is accepted: closes it when a
// request takes too long to arrive or it falls idle, answers a head or body
// past the limits itself and closes, and writes the answers to pipelined
// requests in the order they were asked. Lives as a child of its socket, and
// reads each chunk before the HTTP parser does (it is connected first).
class ConnectionGuard : public QObject {
    Q_OBJECT
public:
    ConnectionGuard(QTcpSocket *socket, const ConnectionLimits &limits);

    // The guard of `socket`, or nullptr when it has none.
    static ConnectionGuard *of(QTcpSocket *socket);

    // Takes the next place in the order of answers, for a request just taken whole.
    int reserveAnswer();
    // Whether the request reserved last asked to keep the connection open.
    bool keepsAlive() const { return lastKeepAlive_; }
    // Hands in the answer for place `slot`; answers go out in the order reserved.
    void deliver(int slot, const QByteArray &bytes, bool close);

private:
    void onReadyRead();
    void scan(const QByteArray &bytes);
    bool headEnded();
    void refuse(int status, const QByteArray &reason);
    void closeNow();
    void flush();

    enum class Phase { Head, Body, Refused };
    QTcpSocket *socket_;
    ConnectionLimits limits_;
    QTimer requestTimer_;
    QTimer idleTimer_;
    Phase phase_ = Phase::Head;
    QByteArray head_;
    qint64 bodyLeft_ = 0;
    std::deque<bool> headsKeepAlive_; // of heads read whole, not yet reserved
    bool lastKeepAlive_ = true;
    int nextSlot_ = 0;
    int nextToWrite_ = 0;
    std::map<int, std::pair<QByteArray, bool>> ready_;
};

// A listening socket that bounds connections in all and per client address
// before any byte is read, does the TLS handshake itself under the request
// limit, and gives every connection its ConnectionGuard. Bind it to a
// QAbstractHttpServer once listening.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
public:
    GuardedTcpServer(const ConnectionLimits &limits, std::optional<QSslConfiguration> tls, QObject *parent = nullptr);

    int openConnections() const { return open_; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    ConnectionLimits limits_;
    std::optional<QSslConfiguration> tls_;
    int open_ = 0;
    QHash<QString, int> perClient_;
};

// Why `configuration` cannot serve TLS (a certificate and key that do not
// belong together, a TLS library that refuses them), found by one handshake
// with itself over the loopback; empty when it can.
QString tlsProblem(const QSslConfiguration &configuration);

} // namespace ostrand::web
