#include "request_guard.h"

#include "http_answer.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QSslServer>
#include <QSslSocket>
#include <unistd.h>

namespace ostrand::web {
namespace {

// Where the blank line ending a head starts ("\r\n\r\n", or "\n\n" as lenient
// parsers take it), searching from `from`; -1 when not yet there. *length: its bytes.
qsizetype headEnd(const QByteArray &head, qsizetype from, int *length)
{
    for (qsizetype i = std::max<qsizetype>(from, 0); i < head.size(); ++i) {
        if (head[i] != '\n')
            continue;
        if (i + 1 < head.size() && head[i + 1] == '\n') {
            *length = 2;
            return i;
        }
        if (i + 2 < head.size() && head[i + 1] == '\r' && head[i + 2] == '\n') {
            *length = 3;
            return i;
        }
    }
    return -1;
}

QHostAddress plainAddress(const QHostAddress &address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : address;
}

} // namespace

ConnectionGuard::ConnectionGuard(QTcpSocket *socket, const ConnectionLimits &limits)
    : QObject(socket), socket_(socket), limits_(limits)
{
    setObjectName(QStringLiteral("ostrand-connection-guard"));
    requestTimer_.setSingleShot(true);
    idleTimer_.setSingleShot(true);
    connect(&requestTimer_, &QTimer::timeout, this, &ConnectionGuard::closeNow);
    connect(&idleTimer_, &QTimer::timeout, this, [this] {
        // An answer still being made is not the client's idleness.
        if (nextSlot_ > nextToWrite_)
            idleTimer_.start(limits_.idleMs);
        else
            closeNow();
    });
    connect(socket_, &QTcpSocket::readyRead, this, &ConnectionGuard::onReadyRead);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] { idleTimer_.start(limits_.idleMs); });
    // From the accept: a client that connects and says nothing (or stalls a
    // TLS handshake) holds its place no longer than one that sends slowly.
    requestTimer_.start(limits_.requestMs);
    idleTimer_.start(limits_.idleMs);
}

ConnectionGuard *ConnectionGuard::of(QTcpSocket *socket)
{
    return socket ? socket->findChild<ConnectionGuard *>(QStringLiteral("ostrand-connection-guard"),
                                                         Qt::FindDirectChildrenOnly)
                  : nullptr;
}

void ConnectionGuard::onReadyRead()
{
    idleTimer_.start(limits_.idleMs);
    if (phase_ == Phase::Refused) {
        socket_->readAll();
        return;
    }
    // The HTTP parser reads everything on each readyRead after this slot, so
    // what is unread now is exactly what arrived since.
    scan(socket_->peek(socket_->bytesAvailable()));
}

void ConnectionGuard::scan(const QByteArray &bytes)
{
    qsizetype at = 0;
    while (at < bytes.size() && phase_ != Phase::Refused) {
        if (phase_ == Phase::Body) {
            const qsizetype take = std::min<qsizetype>(bodyLeft_, bytes.size() - at);
            bodyLeft_ -= take;
            at += take;
            if (bodyLeft_ == 0) {
                phase_ = Phase::Head;
                requestTimer_.stop();
            }
            continue;
        }
        if (head_.isEmpty() && !requestTimer_.isActive())
            requestTimer_.start(limits_.requestMs);
        const qsizetype before = head_.size();
        // A few bytes past the limit, so a head ending exactly at it is still seen whole.
        const qsizetype take = std::min<qsizetype>(bytes.size() - at, limits_.maxHeadBytes + 3 - before);
        head_.append(bytes.constData() + at, take);
        int endLength = 0;
        const qsizetype end = headEnd(head_, before - 2, &endLength);
        if (end < 0) {
            if (head_.size() > limits_.maxHeadBytes) {
                refuse(431, "The request line and headers are longer than this server takes.\n");
                return;
            }
            at += take;
            continue;
        }
        const qsizetype headSize = end + endLength;
        at += headSize - before;
        head_.truncate(headSize);
        if (headSize > limits_.maxHeadBytes) {
            refuse(431, "The request line and headers are longer than this server takes.\n");
            return;
        }
        if (!headEnded())
            return;
        head_.clear();
    }
}

bool ConnectionGuard::headEnded()
{
    // Lines before the request line may be empty (left over from a previous request).
    QList<QByteArray> lines = head_.split('\n');
    while (!lines.isEmpty() && lines.first().trimmed().isEmpty())
        lines.removeFirst();
    if (lines.isEmpty())
        return true;
    const QByteArray requestLine = lines.takeFirst().trimmed();
    const bool http10 = requestLine.endsWith("HTTP/1.0");
    bool keepAlive = !http10;
    qint64 length = 0;
    for (const QByteArray &raw : lines) {
        const qsizetype colon = raw.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = raw.left(colon).trimmed().toLower();
        const QByteArray value = raw.mid(colon + 1).trimmed().toLower();
        if (name == "content-length") {
            bool ok = false;
            length = value.toLongLong(&ok);
            if (!ok || length < 0) {
                refuse(400, "The Content-Length is no number.\n");
                return false;
            }
        } else if (name == "transfer-encoding") {
            refuse(411, "This server takes no chunked bodies.\n");
            return false;
        } else if (name == "connection") {
            if (value.contains("close"))
                keepAlive = false;
            else if (value.contains("keep-alive"))
                keepAlive = true;
        }
    }
    if (length > limits_.maxBodyBytes) {
        refuse(413, "The request's body is larger than this server takes.\n");
        return false;
    }
    headsKeepAlive_.push_back(keepAlive);
    if (length > 0) {
        bodyLeft_ = length;
        phase_ = Phase::Body;
    } else {
        requestTimer_.stop();
    }
    return true;
}

void ConnectionGuard::refuse(int status, const QByteArray &reason)
{
    phase_ = Phase::Refused;
    requestTimer_.stop();
    // What arrived is not handed on: the parser reads nothing of it.
    socket_->readAll();
    // Answers still owed are dropped: the connection ends with this one.
    nextToWrite_ = nextSlot_;
    ready_.clear();
    socket_->write(httpAnswer(status, "text/plain; charset=utf-8", reason, {}, true));
    socket_->disconnectFromHost();
}

void ConnectionGuard::closeNow()
{
    phase_ = Phase::Refused;
    socket_->abort();
    socket_->deleteLater();
}

int ConnectionGuard::reserveAnswer()
{
    lastKeepAlive_ = true;
    if (!headsKeepAlive_.empty()) {
        lastKeepAlive_ = headsKeepAlive_.front();
        headsKeepAlive_.pop_front();
    }
    return nextSlot_++;
}

void ConnectionGuard::deliver(int slot, const QByteArray &bytes, bool close)
{
    if (phase_ == Phase::Refused || slot < nextToWrite_)
        return;
    ready_[slot] = {bytes, close};
    flush();
}

void ConnectionGuard::flush()
{
    for (auto it = ready_.find(nextToWrite_); it != ready_.end(); it = ready_.find(nextToWrite_)) {
        const auto [bytes, close] = it->second;
        ready_.erase(it);
        ++nextToWrite_;
        socket_->write(bytes);
        idleTimer_.start(limits_.idleMs);
        if (close) {
            phase_ = Phase::Refused;
            ready_.clear();
            socket_->disconnectFromHost();
            return;
        }
    }
}

GuardedTcpServer::GuardedTcpServer(const ConnectionLimits &limits, std::optional<QSslConfiguration> tls,
                                   QObject *parent)
    : QTcpServer(parent), limits_(limits), tls_(std::move(tls))
{
    setMaxPendingConnections(limits_.maxConnections);
}

void GuardedTcpServer::incomingConnection(qintptr descriptor)
{
    QTcpSocket *socket = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    const QString client = plainAddress(socket->peerAddress()).toString();
    // Refused at once rather than queued: a queue would let a flood hold everyone's wait.
    if (open_ >= limits_.maxConnections || perClient_.value(client) >= limits_.maxPerClient) {
        socket->abort();
        delete socket;
        return;
    }
    ++open_;
    ++perClient_[client];
    connect(socket, &QObject::destroyed, this, [this, client] {
        --open_;
        if (--perClient_[client] <= 0)
            perClient_.remove(client);
    });
    auto *guard = new ConnectionGuard(socket, limits_);
    Q_UNUSED(guard);
    if (!tls_) {
        addPendingConnection(socket);
        return;
    }
    auto *secure = static_cast<QSslSocket *>(socket);
    secure->setSslConfiguration(*tls_);
    connect(secure, &QSslSocket::encrypted, this, [this, secure] { addPendingConnection(secure); });
    // A client speaking plain HTTP, or one that gives up, ends here: it never reaches the site.
    connect(secure, &QAbstractSocket::errorOccurred, secure, [secure] {
        secure->abort();
        secure->deleteLater();
    });
    secure->startServerEncryption();
}

QString tlsProblem(const QSslConfiguration &configuration)
{
    QSslServer server;
    server.setSslConfiguration(configuration);
    if (!server.listen(QHostAddress::LocalHost, 0))
        return QStringLiteral("no loopback port to try the certificate on: %1").arg(server.errorString());
    QString problem;
    QEventLoop loop;
    QSslSocket client;
    client.setPeerVerifyMode(QSslSocket::VerifyNone);
    QObject::connect(&server, &QSslServer::errorOccurred, &loop, [&](QSslSocket *socket, QAbstractSocket::SocketError) {
        problem = socket->errorString();
        loop.quit();
    });
    QObject::connect(&server, &QSslServer::sslErrors, &loop, [&](QSslSocket *, const QList<QSslError> &errors) {
        if (!errors.isEmpty())
            problem = errors.first().errorString();
        loop.quit();
    });
    QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, &loop, [&] { loop.quit(); });
    QObject::connect(&client, &QAbstractSocket::errorOccurred, &loop, [&] {
        if (problem.isEmpty())
            problem = client.errorString();
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, [&] {
        problem = QStringLiteral("a TLS handshake with itself did not finish within 10 s");
        loop.quit();
    });
    client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.serverPort());
    loop.exec();
    return problem;
}

} // namespace ostrand::web
