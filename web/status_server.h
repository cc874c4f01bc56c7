#pragma once

#include "request_guard.h"
#include "status_site.h"
#include "store/store_location.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QThreadPool>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace ostrand::web {

// Everything the server answers from, fixed when it starts.
struct ServerSettings {
    SiteSettings site;
    collect::StoreLocation store;
    QByteArray token;                      // empty: no token asked (loopback only)
    std::optional<QSslConfiguration> tls;  // HTTPS when set
    ConnectionLimits limits;
    std::function<QDateTime()> nowUtc;     // the wall clock, handed in
    // An answer made this recently is given again to the same request; one
    // up to staleMs old is given while a fresh one is made for the next.
    int reuseMs = 2000;
    int staleMs = 30000;
    qint64 keptBytes = 64 * 1024 * 1024;   // all answers kept for reuse, at most
};

// Serves the status site read-only: every GET (and HEAD) goes to answerRequest
// with a store reader opened for it on a worker thread, so one slow page does
// not hold the others; other methods are refused with 405, and with a token,
// a request without it gets 401 and a Basic challenge. Requests for the same
// page while it is being made wait for that one making, and its answer
// serves the same request for a few seconds more: a fleet of browsers and
// monitors asking at once costs one reading of the store.
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
    struct Waiter {
        QPointer<QTcpSocket> socket;
        int slot = 0;
        bool close = false;
        bool headOnly = false;
        bool deflate = false; // the client takes a deflated body
    };
    struct Shared {
        SiteResponse response;
        QByteArray deflated; // the body deflated, when worth it; else empty
        qint64 madeAtMs = 0;
        bool ready = false;
        bool making = false;
        std::vector<Waiter> waiters;
    };
    void answer(const QString &key, const SiteRequest &site, const Waiter &waiter);
    void make(const QString &key, const SiteRequest &site);
    void made(const QString &key, const SiteResponse &response, const QByteArray &deflated);
    static void send(const Waiter &waiter, const SiteResponse &response, const QByteArray &deflated);
    void forget();

    ServerSettings settings_;
    QThreadPool workers_;
    QElapsedTimer clock_;
    std::map<QString, Shared> answers_; // by path and query
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
