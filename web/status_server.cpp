#include "status_server.h"

#include "access_token.h"
#include "http_answer.h"
#include "platform/small_file.h"
#include "store/store_open.h"

#include <QHttpServerRequest>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>

namespace ostrand::web {
namespace {

constexpr qint64 kMaxPemBytes = 1024 * 1024;
const QByteArray kText = "text/plain; charset=utf-8";

QByteArray unauthorizedBody()
{
    return "This status page asks for its access token: give it as the password "
           "(any user name), or send \"Authorization: Bearer TOKEN\".\n";
}

// Whether the client said it takes "deflate" (and not with q=0).
bool takesDeflate(const QHttpServerRequest &request)
{
    for (const QByteArray &item : request.value("accept-encoding").split(',')) {
        const QList<QByteArray> parts = item.split(';');
        if (parts.first().trimmed().compare("deflate", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray &parameter : parts.mid(1)) {
            const QByteArray p = parameter.trimmed();
            if (p.startsWith("q=") && p.mid(2).toDouble() <= 0)
                return false;
        }
        return true;
    }
    return false;
}

// The body as HTTP's "deflate" (a zlib stream), when it is text large enough
// to gain: the fleet's JSON repeats the same keys a thousand times.
QByteArray deflatedBody(const SiteResponse &response)
{
    if (response.body.size() < 1024)
        return {};
    const QByteArray &type = response.contentType;
    if (!type.startsWith("text/") && !type.contains("json") && !type.contains("svg") && !type.contains("xml"))
        return {};
    // qCompress puts the length before the zlib stream; the stream is what HTTP wants.
    return qCompress(response.body, 6).mid(4);
}

} // namespace

StatusServer::StatusServer(ServerSettings settings, QObject *parent)
    : QAbstractHttpServer(parent), settings_(std::move(settings))
{
    if (!settings_.nowUtc)
        settings_.nowUtc = [] { return QDateTime::currentDateTimeUtc(); };
    // A few pages drawn at once is plenty for an operator's fleet; more
    // would only share the same cores and the same database.
    workers_.setMaxThreadCount(std::max(2, std::min(QThread::idealThreadCount(), 8)));
    clock_.start();
}

StatusServer::~StatusServer()
{
    // The workers read settings_ and post to this object: all of them end first.
    workers_.waitForDone();
}

quint16 StatusServer::listenOn(const QHostAddress &address, quint16 port, QString *error)
{
    auto *server = new GuardedTcpServer(settings_.limits, settings_.tls, this);
    if (!server->listen(address, port)) {
        *error = QStringLiteral("could not listen on %1 port %2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(server->errorString());
        delete server;
        return 0;
    }
    bind(server);
    return server->serverPort();
}

bool StatusServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    ConnectionGuard *guard = ConnectionGuard::of(socket);
    if (!guard) {
        socket->abort();
        return true;
    }
    const int slot = guard->reserveAnswer();
    const bool close = !guard->keepsAlive();
    const bool headOnly = request.method() == QHttpServerRequest::Method::Head;
    if (!settings_.token.isEmpty() && !carriesToken(request.headers(), settings_.token)) {
        // The Basic challenge makes a browser ask for the token as a password.
        guard->deliver(slot,
                       httpAnswer(401, kText, unauthorizedBody(),
                                  {{"WWW-Authenticate", "Basic realm=\"ostrand\", charset=\"UTF-8\""}}, close,
                                  headOnly),
                       close);
        return true;
    }
    if (request.method() != QHttpServerRequest::Method::Get && !headOnly) {
        guard->deliver(slot,
                       httpAnswer(405, kText, "This status page only reads: it answers GET and HEAD.\n",
                                  {{"Allow", "GET, HEAD"}}, close),
                       close);
        return true;
    }
    const SiteRequest site{request.url().path(QUrl::FullyDecoded), request.query()};
    const QString key = site.path + u'?' + site.query.toString(QUrl::FullyEncoded);
    answer(key, site, {QPointer<QTcpSocket>(socket), slot, close, headOnly, takesDeflate(request)});
    return true;
}

void StatusServer::answer(const QString &key, const SiteRequest &site, const Waiter &waiter)
{
    forget();
    Shared &shared = answers_[key];
    if (shared.ready) {
        const qint64 age = clock_.elapsed() - shared.madeAtMs;
        if (age <= settings_.staleMs) {
            send(waiter, shared.response, shared.deflated);
            if (age > settings_.reuseMs)
                make(key, site);
            return;
        }
    }
    shared.waiters.push_back(waiter);
    make(key, site);
}

void StatusServer::make(const QString &key, const SiteRequest &site)
{
    Shared &shared = answers_[key];
    if (shared.making)
        return;
    shared.making = true;
    const QDateTime now = settings_.nowUtc();
    workers_.start([this, key, site, now] {
        // A reader per making, opened on the thread that uses it: a
        // connection is never shared between threads, and a store that was
        // replaced or migrated since is seen as it is now.
        QString error;
        SiteResponse response;
        if (const auto reader = collect::openStoreReader(settings_.store, &error)) {
            response = answerRequest(settings_.site, site, *reader, now);
        } else {
            response.status = 503;
            response.contentType = kText;
            response.body = QStringLiteral("The store %1 could not be opened: %2\n")
                                .arg(collect::storeName(settings_.store), error)
                                .toUtf8();
        }
        const QByteArray deflated = deflatedBody(response);
        QMetaObject::invokeMethod(
            this, [this, key, response, deflated] { made(key, response, deflated); }, Qt::QueuedConnection);
    });
}

void StatusServer::made(const QString &key, const SiteResponse &response, const QByteArray &deflated)
{
    Shared &shared = answers_[key];
    shared.making = false;
    const std::vector<Waiter> waiters = std::move(shared.waiters);
    shared.waiters.clear();
    // A store that would not answer is asked again by the next request.
    if (response.status >= 500) {
        answers_.erase(key);
    } else {
        shared.response = response;
        shared.deflated = deflated;
        shared.madeAtMs = clock_.elapsed();
        shared.ready = true;
    }
    for (const Waiter &waiter : waiters)
        send(waiter, response, deflated);
}

void StatusServer::send(const Waiter &waiter, const SiteResponse &response, const QByteArray &deflated)
{
    ConnectionGuard *guard = waiter.socket ? ConnectionGuard::of(waiter.socket) : nullptr;
    if (!guard)
        return;
    QList<QPair<QByteArray, QByteArray>> headers = response.headers;
    headers.append(qMakePair(QByteArray("Vary"), QByteArray("Accept-Encoding")));
    const bool deflate = waiter.deflate && !deflated.isEmpty();
    if (deflate)
        headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("deflate")));
    guard->deliver(waiter.slot,
                   httpAnswer(response.status, response.contentType, deflate ? deflated : response.body, headers,
                              waiter.close, waiter.headOnly),
                   waiter.close);
}

void StatusServer::forget()
{
    const qint64 now = clock_.elapsed();
    qint64 kept = 0;
    std::vector<std::pair<qint64, QString>> byAge;
    for (auto it = answers_.begin(); it != answers_.end();) {
        const Shared &shared = it->second;
        const bool idle = !shared.making && shared.waiters.empty();
        if (idle && (!shared.ready || now - shared.madeAtMs > settings_.staleMs)) {
            it = answers_.erase(it);
            continue;
        }
        if (shared.ready) {
            kept += shared.response.body.size();
            if (idle)
                byAge.emplace_back(shared.madeAtMs, it->first);
        }
        ++it;
    }
    // Past the bytes allowed, the oldest answers go first.
    std::sort(byAge.begin(), byAge.end());
    for (const auto &[madeAt, key] : byAge) {
        if (kept <= settings_.keptBytes)
            break;
        kept -= answers_[key].response.body.size();
        answers_.erase(key);
    }
}

void StatusServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    if (ConnectionGuard *guard = ConnectionGuard::of(socket)) {
        const int slot = guard->reserveAnswer();
        guard->deliver(slot, httpAnswer(404, kText, "Not found.\n", {}, true), true);
    }
}

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool parseListen(const QString &text, QHostAddress *address, quint16 *port, QString *problem)
{
    const QString value = text.trimmed();
    const qsizetype colon = value.lastIndexOf(u':');
    QString host = colon < 0 ? QStringLiteral("127.0.0.1") : value.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = value.mid(colon + 1).toUInt(&ok);
    const auto bad = [&](const QString &why) {
        *problem = QStringLiteral("--listen '%1' %2 (127.0.0.1:8080, 0.0.0.0:8080, [::1]:8080; port 0: one the "
                                  "system picks)")
                       .arg(text, why);
        return false;
    };
    if (!ok || number > 65535)
        return bad(QStringLiteral("has no port number"));
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("127.0.0.1");
    const QHostAddress parsed(host);
    if (parsed.isNull())
        return bad(QStringLiteral("names no address this machine can listen on (give an IP address)"));
    *address = parsed;
    *port = quint16(number);
    return true;
}

std::optional<QSslConfiguration> readTlsFiles(const QString &certPath, const QString &keyPath, QString *problem)
{
    const SmallFile certFile = readSmallFile(certPath, kMaxPemBytes);
    if (!certFile.check.ok()) {
        *problem = QStringLiteral("--tls-cert: ") + certFile.check.problem;
        return std::nullopt;
    }
    const SmallFile keyFile = readSmallFile(keyPath, kMaxPemBytes);
    if (!keyFile.check.ok()) {
        *problem = QStringLiteral("--tls-key: ") + keyFile.check.problem;
        return std::nullopt;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certFile.bytes, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        *problem = QStringLiteral("--tls-cert: %1 holds no PEM certificate (-----BEGIN CERTIFICATE-----)").arg(certPath);
        return std::nullopt;
    }
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(keyFile.bytes, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        *problem = QStringLiteral("--tls-key: %1 holds no unencrypted PEM private key (RSA, EC or DSA)").arg(keyPath);
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setProtocol(QSsl::SecureProtocols);
    if (const QString why = tlsProblem(configuration); !why.isEmpty()) {
        *problem = QStringLiteral("--tls-cert %1 and --tls-key %2 do not serve TLS together: %3")
                       .arg(certPath, keyPath, why);
        return std::nullopt;
    }
    return configuration;
}

} // namespace ostrand::web
