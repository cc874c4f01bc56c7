#include "status_server.h"

#include "access_token.h"
#include "http_answer.h"
#include "platform/small_file.h"
#include "store/store_open.h"

#include <QHttpServerRequest>
#include <QPointer>
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

} // namespace

StatusServer::StatusServer(ServerSettings settings, QObject *parent)
    : QAbstractHttpServer(parent), settings_(std::move(settings))
{
    if (!settings_.nowUtc)
        settings_.nowUtc = [] { return QDateTime::currentDateTimeUtc(); };
    // A few pages drawn at once is plenty for an operator's fleet; more
    // would only share the same cores and the same database.
    workers_.setMaxThreadCount(std::max(2, std::min(QThread::idealThreadCount(), 8)));
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
    const QDateTime now = settings_.nowUtc();
    const QPointer<QTcpSocket> target(socket);
    workers_.start([this, site, now, slot, close, headOnly, target] {
        // A reader per request, opened on the thread that uses it: a
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
        const QByteArray bytes =
            httpAnswer(response.status, response.contentType, response.body, response.headers, close, headOnly);
        QMetaObject::invokeMethod(
            this,
            [target, slot, bytes, close] {
                if (ConnectionGuard *owner = target ? ConnectionGuard::of(target) : nullptr)
                    owner->deliver(slot, bytes, close);
            },
            Qt::QueuedConnection);
    });
    return true;
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
