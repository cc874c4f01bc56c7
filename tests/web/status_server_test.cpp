// ostrand-cli serve as a process: the token, TLS, the methods it refuses, and
// clients that are slow, many or never finish, over a store written here.
#include "cli_run.h"
#include "store/reading_store.h"

#include <QDir>
#include <QtEndian>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

using namespace ostrand::collect;
using namespace ostrand::testing;

namespace {

const char kNow[] = "2026-12-07T08:00:00Z";
const QByteArray kToken = "s3cret-token-for-the-fleet-0123456789";

QDateTime at(const char *time)
{
    return QDateTime::fromString(QString::fromLatin1(time), Qt::ISODate).toUTC();
}

// One answer as it came off the wire; status 0 when none came.
struct Answer {
    int status = 0;
    QByteArray head;
    QByteArray body;
    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : head.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
                return line.mid(colon + 1).trimmed();
        }
        return {};
    }
};

Answer parseAnswer(const QByteArray &bytes)
{
    Answer answer;
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (!bytes.startsWith("HTTP/1.1 ") || end < 0)
        return answer;
    answer.status = bytes.mid(9, 3).toInt();
    answer.head = bytes.left(end);
    answer.body = bytes.mid(end + 4);
    return answer;
}

// Sends `request` whole on a new connection and reads until the server closes
// it or `timeoutMs` passes; the request asks for the connection to close.
Answer exchange(quint16 port, const QByteArray &request, bool tls = false, int timeoutMs = 5000)
{
    std::unique_ptr<QTcpSocket> socket;
    if (tls) {
        auto secure = std::make_unique<QSslSocket>();
        secure->setPeerVerifyMode(QSslSocket::VerifyNone);
        secure->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        if (!secure->waitForEncrypted(timeoutMs))
            return {};
        socket = std::move(secure);
    } else {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, port);
        if (!socket->waitForConnected(timeoutMs))
            return {};
    }
    socket->write(request);
    QByteArray bytes;
    QElapsedTimer timer;
    timer.start();
    while (socket->state() == QAbstractSocket::ConnectedState && timer.elapsed() < timeoutMs) {
        socket->waitForReadyRead(50);
        bytes += socket->readAll();
    }
    bytes += socket->readAll();
    return parseAnswer(bytes);
}

QByteArray get(const QByteArray &path, const QList<QByteArray> &headers = {}, const QByteArray &method = "GET")
{
    QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (const QByteArray &header : headers)
        request += header + "\r\n";
    return request + "\r\n";
}

// A running `ostrand-cli serve`, stopped with SIGTERM at the end.
class Serve {
public:
    Serve(const QString &dir, const QStringList &extra)
    {
        process_.setWorkingDirectory(dir);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OSTRAND_CLI_NOW"), QString::fromLatin1(kNow));
        process_.setProcessEnvironment(environment);
        process_.start(QStringLiteral(OSTRAND_CLI),
                       QStringList{"serve", "--stations", QDir(dir).filePath("stations.ini")} + extra);
        QElapsedTimer timer;
        timer.start();
        const QRegularExpression url(QStringLiteral("^(https?)://[^/]+:(\\d+)/$"));
        while (timer.elapsed() < 20000 && process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(100);
            out_ += process_.readAllStandardOutput();
            for (const QString &line : QString::fromUtf8(out_).split(u'\n')) {
                if (const auto m = url.match(line); m.hasMatch()) {
                    port = quint16(m.captured(2).toUInt());
                    return;
                }
            }
        }
    }
    ~Serve()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    int terminate()
    {
        ::kill(pid_t(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(10000))
            return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QString errors() { return QString::fromLocal8Bit(process_.readAllStandardError()); }
    quint16 port = 0;

private:
    QProcess process_;
    QByteArray out_;
};

class ServeCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ::chmod(QFile::encodeName(dir_.path()), 0700);
        QFile stations(path("stations.ini"));
        ASSERT_TRUE(stations.open(QIODevice::WriteOnly));
        stations.write("[north]\nport = /dev/ttyUSB8\noutput = north.csv\n"
                       "[south]\nport = /dev/ttyUSB9\noutput = south.csv\n"
                       "[store]\nurl = sqlite:flow.db\n");
        stations.close();
        QString error;
        auto store = openReadingStore({StoreLocation::Kind::Sqlite, path("flow.db")}, &error);
        ASSERT_TRUE(store) << qPrintable(error);
        const CollectionRow run{"north", at("2026-12-07T07:00:00Z"), at("2026-12-07T07:00:20Z"), "ok", 1, 1, {}};
        const StoredReading reading{"north", 1, "Flow", "l/s", at("2026-12-07T06:45:00Z"), "2026-12-07 06:45:00", 12.5};
        ASSERT_TRUE(store->write({StationRow{"north", "/dev/ttyUSB8", "", run.finishedUtc, run.finishedUtc, {}}, run,
                                  {reading}, {}},
                                 &error))
            << qPrintable(error);
        writeToken(0600);
    }
    QString path(const QString &name) const { return dir_.filePath(name); }
    void writeToken(mode_t mode)
    {
        QFile token(path("token"));
        ASSERT_TRUE(token.open(QIODevice::WriteOnly));
        token.write(kToken + "\n");
        token.close();
        ::chmod(QFile::encodeName(path("token")), mode);
    }
    CliRun serveOnce(const QStringList &extra)
    {
        return runCli(QStringList{"serve", "--stations", path("stations.ini")} + extra, dir_.path(), 30000);
    }

    QTemporaryDir dir_;
};

TEST_F(ServeCommand, aRequestWithoutTheTokenIsAskedForItAndOneWithItIsAnswered)
{
    Serve serve(dir_.path(), {"--listen", "127.0.0.1:0", "--token-file", path("token")});
    ASSERT_NE(serve.port, 0) << qPrintable(serve.errors());
    const QByteArray basicRight = "Basic " + QByteArray("anyone:" + kToken).toBase64();
    const QByteArray basicWrong = "Basic " + QByteArray("anyone:" + kToken.left(kToken.size() - 1) + "X").toBase64();
    const struct {
        const char *what;
        QList<QByteArray> headers;
        int status;
    } cases[] = {
        {"no credentials", {}, 401},
        {"a wrong bearer token", {"Authorization: Bearer " + kToken.left(kToken.size() - 1) + "X"}, 401},
        {"the token with a byte more", {"Authorization: Bearer " + kToken + "0"}, 401},
        {"the token's first half", {"Authorization: Bearer " + kToken.left(kToken.size() / 2)}, 401},
        {"a wrong Basic password", {"Authorization: " + basicWrong}, 401},
        {"the token as a Basic user name", {"Authorization: Basic " + QByteArray(kToken + ":x").toBase64()}, 401},
        {"the bearer token", {"Authorization: Bearer " + kToken}, 200},
        {"the token as a Basic password", {"Authorization: " + basicRight}, 200},
    };
    for (const auto &c : cases) {
        const Answer answer = exchange(serve.port, get("/api/stations", c.headers));
        EXPECT_EQ(answer.status, c.status) << c.what;
        if (c.status == 401) {
            EXPECT_EQ(answer.header("WWW-Authenticate"), "Basic realm=\"ostrand\", charset=\"UTF-8\"") << c.what;
        } else {
            EXPECT_TRUE(answer.body.contains("north")) << c.what;
        }
    }
    EXPECT_EQ(serve.terminate(), 0);
}

TEST_F(ServeCommand, everyAnswerCarriesTheSecurityHeadersAndOnlyGetIsServed)
{
    Serve serve(dir_.path(), {"--listen", "127.0.0.1:0"});
    ASSERT_NE(serve.port, 0) << qPrintable(serve.errors());
    const struct {
        QByteArray request;
        int status;
    } cases[] = {
        {get("/api/stations"), 200},
        {get("/no/such/page"), 404},
        {get("/api/stations", {"Content-Length: 2"}, "POST") + "{}", 405},
        {get("/", {}, "PUT"), 405},
        {get("/api/stations", {}, "DELETE"), 405},
    };
    for (const auto &c : cases) {
        const Answer answer = exchange(serve.port, c.request);
        EXPECT_EQ(answer.status, c.status) << c.request.constData();
        const QByteArray policy = answer.header("Content-Security-Policy");
        EXPECT_TRUE(policy.startsWith("default-src 'none'; img-src 'self' data:; style-src 'unsafe-inline'; "
                                      "script-src 'unsafe-inline'; connect-src 'self'"))
            << policy.constData();
        EXPECT_EQ(answer.header("X-Content-Type-Options"), "nosniff");
        EXPECT_EQ(answer.header("Referrer-Policy"), "no-referrer");
        EXPECT_EQ(answer.header("Cache-Control"), "no-store");
        if (c.status == 405) {
            EXPECT_EQ(answer.header("Allow"), "GET, HEAD");
        }
    }
}

TEST_F(ServeCommand, aClientTakingDeflateGetsTheSameBodyDeflated)
{
    Serve serve(dir_.path(), {"--listen", "127.0.0.1:0"});
    ASSERT_NE(serve.port, 0) << qPrintable(serve.errors());
    const Answer plain = exchange(serve.port, get("/api/stations"));
    const Answer deflated = exchange(serve.port, get("/api/stations", {"Accept-Encoding: gzip, deflate, br"}));
    const Answer refused = exchange(serve.port, get("/api/stations", {"Accept-Encoding: deflate;q=0"}));
    ASSERT_EQ(plain.status, 200);
    ASSERT_EQ(deflated.status, 200);
    EXPECT_TRUE(plain.header("Content-Encoding").isEmpty());
    EXPECT_TRUE(refused.header("Content-Encoding").isEmpty());
    EXPECT_EQ(refused.body, plain.body);
    if (plain.body.size() >= 1024) {
        EXPECT_EQ(deflated.header("Content-Encoding"), "deflate");
        // qUncompress wants the length in front of the zlib stream.
        QByteArray framed(4, '\0');
        qToBigEndian<quint32>(quint32(plain.body.size()), framed.data());
        EXPECT_EQ(qUncompress(framed + deflated.body), plain.body);
        EXPECT_LT(deflated.body.size(), plain.body.size());
    }
}

TEST_F(ServeCommand, refusesToStartWhereThePageWouldBeOpenOrTheTokenWeakAndSaysWhy)
{
    QFile noStore(path("no-store.ini"));
    ASSERT_TRUE(noStore.open(QIODevice::WriteOnly));
    noStore.write("[north]\nport = /dev/ttyUSB8\noutput = north.csv\n");
    noStore.close();
    QFile shortToken(path("short-token"));
    ASSERT_TRUE(shortToken.open(QIODevice::WriteOnly));
    shortToken.write("abc123\n");
    shortToken.close();
    ::chmod(QFile::encodeName(path("short-token")), 0600);
    writeToken(0644);
    const struct {
        QStringList arguments;
        const char *reason;
    } cases[] = {
        {{"--listen", "0.0.0.0:0"}, "give --token-file"},
        {{"--listen", "[::]:0"}, "give --token-file"},
        {{"--listen", "192.0.2.1:8080"}, "give --token-file"},
        {{"--listen", "127.0.0.1:0", "--token-file", path("short-token")}, "use at least 16"},
        {{"--listen", "127.0.0.1:0", "--token-file", path("missing")}, "--token-file"},
        {{"--listen", "127.0.0.1:0", "--token-file", path("token")}, "can be read by every user"},
        {{"--listen", "127.0.0.1:0", "--tls-cert", path("token")}, "go together"},
    };
    for (const auto &c : cases) {
        const CliRun run = serveOnce(c.arguments);
        EXPECT_EQ(run.exitCode, 64) << qPrintable(c.arguments.join(' '));
        EXPECT_TRUE(run.errors.contains(c.reason)) << qPrintable(run.errors);
    }
    const CliRun withoutStore =
        runCli({"serve", "--stations", path("no-store.ini"), "--listen", "127.0.0.1:0"}, dir_.path(), 30000);
    EXPECT_EQ(withoutStore.exitCode, 64);
    EXPECT_TRUE(withoutStore.errors.contains("has no [store] group")) << qPrintable(withoutStore.errors);
}

TEST_F(ServeCommand, servesHttpsWithTheCertificateGivenAndNotPlainHttpOnIt)
{
    const auto openssl = [&](const QStringList &arguments) {
        QProcess process;
        process.setWorkingDirectory(dir_.path());
        process.start(QStringLiteral("openssl"), arguments);
        return process.waitForFinished(60000) && process.exitCode() == 0;
    };
    ASSERT_TRUE(openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "cert.pem",
                         "-days", "2", "-subj", "/CN=localhost"}));
    ASSERT_TRUE(openssl({"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", "other.pem"}));

    const CliRun mismatched = serveOnce({"--listen", "127.0.0.1:0", "--tls-cert", path("cert.pem"), "--tls-key",
                                         path("other.pem")});
    EXPECT_EQ(mismatched.exitCode, 64);
    EXPECT_TRUE(mismatched.errors.contains("do not serve TLS together")) << qPrintable(mismatched.errors);
    const CliRun notPem = serveOnce({"--listen", "127.0.0.1:0", "--tls-cert", path("stations.ini"), "--tls-key",
                                     path("key.pem")});
    EXPECT_EQ(notPem.exitCode, 64);
    EXPECT_TRUE(notPem.errors.contains("holds no PEM certificate")) << qPrintable(notPem.errors);

    Serve serve(dir_.path(), {"--listen", "127.0.0.1:0", "--tls-cert", path("cert.pem"), "--tls-key", path("key.pem")});
    ASSERT_NE(serve.port, 0) << qPrintable(serve.errors());
    const Answer secure = exchange(serve.port, get("/api/stations"), true);
    EXPECT_EQ(secure.status, 200);
    EXPECT_TRUE(secure.body.contains("north"));
    const Answer plain = exchange(serve.port, get("/api/stations"), false);
    EXPECT_EQ(plain.status, 0) << plain.head.constData();
    EXPECT_EQ(serve.terminate(), 0);
}

TEST_F(ServeCommand, aSlowClientAndAFloodOfConnectionsDoNotHoldAnotherClientsPage)
{
    Serve serve(dir_.path(), {"--listen", "127.0.0.1:0"});
    ASSERT_NE(serve.port, 0) << qPrintable(serve.errors());
    const quint16 port = serve.port;
    // One byte a second from its own address, for the whole test.
    std::unique_ptr<QThread> slow(QThread::create([port] {
        QTcpSocket socket;
        socket.bind(QHostAddress(QStringLiteral("127.0.0.3")));
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(2000))
            return;
        const QByteArray request = get("/");
        for (int i = 0; i < 6 && socket.state() == QAbstractSocket::ConnectedState; ++i) {
            socket.write(request.mid(i, 1));
            socket.waitForBytesWritten(1000);
            QThread::sleep(1);
        }
    }));
    slow->start();
    // 200 connections opened at once from another address, saying nothing.
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    for (int i = 0; i < 200; ++i) {
        flood.push_back(std::make_unique<QTcpSocket>());
        flood.back()->bind(QHostAddress(QStringLiteral("127.0.0.2")));
        flood.back()->connectToHost(QHostAddress::LocalHost, port);
    }
    for (auto &socket : flood)
        socket->waitForConnected(1000);
    QThread::msleep(1500);

    QElapsedTimer timer;
    timer.start();
    const Answer answer = exchange(port, get("/api/stations"), false, 3000);
    const qint64 elapsed = timer.elapsed();
    EXPECT_EQ(answer.status, 200);
    EXPECT_LT(elapsed, 1000);
    slow->wait();
}

TEST_F(ServeCommand, aRequestThatNeverFinishesIsClosedAndAnOverlongHeadRefused)
{
    Serve serve(dir_.path(), {"--listen", "127.0.0.1:0"});
    ASSERT_NE(serve.port, 0) << qPrintable(serve.errors());
    QTcpSocket stalled;
    stalled.connectToHost(QHostAddress::LocalHost, serve.port);
    ASSERT_TRUE(stalled.waitForConnected(2000));
    stalled.write("GET /api/stations HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    stalled.waitForBytesWritten(1000);
    QElapsedTimer timer;
    timer.start();
    while (stalled.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 15000)
        stalled.waitForReadyRead(100);
    EXPECT_EQ(stalled.state(), QAbstractSocket::UnconnectedState);
    EXPECT_GT(timer.elapsed(), 8000);
    EXPECT_LT(timer.elapsed(), 12000);
    EXPECT_TRUE(stalled.readAll().isEmpty());

    const Answer overlong = exchange(serve.port, get("/", {"X-Padding: " + QByteArray(17 * 1024, 'a')}));
    EXPECT_EQ(overlong.status, 431);
    const Answer large = exchange(serve.port, get("/", {"Content-Length: 1000000"}, "POST"));
    EXPECT_EQ(large.status, 413);
}

} // namespace
