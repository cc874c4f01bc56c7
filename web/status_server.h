#pragma once

#include "request_guard.h"
#include "status_site.h"
#include "store/store_location.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QThreadPool>
#include <functional>
#include <optional>

namespace ostrand::web {

// Everything the server answers from, fixed when it starts.
struct ServerSettings {
    SiteSettings site;
    collect::StoreLocation store;
    QByteArray token;                      // empty: no token asked (loopback only)
    std::optional<QSslConfiguration> tls;  // HTTPS when set
    ConnectionLimits limits;
    std::function<QDateTime()> nowUtc;     // the wall clock, handed in
};

// Serves the status site read-only: every GET (and HEAD) goes to answerRequest
// with a store reader opened for it on a worker thread, so one slow page does
// not hold the others; other methods are refused with 405, and with a token,
// a request without it gets 401 and a Basic challenge.
class StatusServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    explicit StatusServer(ServerSettings settings, QObject *parent = nullptr);
    ~StatusServer() override;

    // Starts listening; the port taken (the one asked, or the system's pick for 0),
    // or 0 with *error saying why.
    quint16 listenOn(const QHostAddress &address, quint16 port, QString *error);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    ServerSettings settings_;
    QThreadPool workers_;
};

// Whether the server may listen on `host` without a token: a loopback address
// or "localhost", which no other machine can reach.
bool isLoopbackHost(const QString &host);

// Splits "HOST:PORT" ("[::1]:8080", "0.0.0.0:8080", "localhost:0"; a bare PORT
// means 127.0.0.1). false with *problem saying what is wrong.
bool parseListen(const QString &text, QHostAddress *address, quint16 *port, QString *problem);

// The certificate and key of `certPath` and `keyPath` (PEM) made into a server
// configuration, or nullopt with *problem naming the file and what is wrong
// (unreadable, not PEM, not a key, a key that is not the certificate's).
std::optional<QSslConfiguration> readTlsFiles(const QString &certPath, const QString &keyPath, QString *problem);

} // namespace ostrand::web
