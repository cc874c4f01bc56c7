// /api/stations of `ostrand-cli serve` over a store of 1,000 stations (a day
// of 15-minute readings each, one in ten failing its last attempt), asked by
// 50 clients at once, each asking again as soon as answered, on a new
// connection every time, taking the body deflated as browsers do. Goal: the
// 95th percentile under 50 ms. Run by hand:
//   BUILD/bench/status_api_bench [requests per client]
//   OSTRAND_BENCH_PLAIN=1 BUILD/bench/status_api_bench   (the body as it is)

#include "store/reading_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

using namespace ostrand::collect;

namespace {

constexpr int kStations = 1000;
constexpr int kClients = 50;
constexpr double kGoalMs = 50;
const char kNow[] = "2026-12-07T08:00:00Z";
// As a browser or curl --compressed asks; OSTRAND_BENCH_PLAIN=1 asks for the body as it is.
const QByteArray kRequest = qEnvironmentVariableIntValue("OSTRAND_BENCH_PLAIN")
    ? "GET /api/stations HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
    : "GET /api/stations HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept-Encoding: deflate\r\nConnection: close\r\n\r\n";

bool makeStore(const QString &dir)
{
    QFile stations(QDir(dir).filePath("stations.ini"));
    if (!stations.open(QIODevice::WriteOnly))
        return false;
    QString error;
    auto store = openReadingStore({StoreLocation::Kind::Sqlite, QDir(dir).filePath("flow.db")}, &error);
    if (!store) {
        std::fprintf(stderr, "store: %s\n", qPrintable(error));
        return false;
    }
    const QDateTime now = QDateTime::fromString(QString::fromLatin1(kNow), Qt::ISODate).toUTC();
    for (int s = 0; s < kStations; ++s) {
        const QString name = QStringLiteral("station-%1").arg(s, 4, 10, QLatin1Char('0'));
        stations.write(QStringLiteral("[%1]\nport = /dev/ttyUSB0\noutput = %1.csv\n").arg(name).toUtf8());
        const bool failing = s % 10 == 0;
        const QDateTime finished = now.addSecs(-3600 - s);
        StationWrite write;
        write.station = {name, "/dev/ttyUSB0", "UTC", finished, failing ? finished.addSecs(-86400) : finished,
                         failing ? "Error in Downloading!! (no answer from slave 1)" : QString()};
        write.collection = {name, finished.addSecs(-30), finished, failing ? "failed" : "ok", failing ? 0 : 96,
                            1, failing ? "Error in Downloading!! (no answer from slave 1)" : QString()};
        if (!failing) {
            for (int i = 0; i < 96; ++i) {
                const QDateTime utc = finished.addSecs(-qint64(i) * 900);
                write.readings.push_back({name, 1, "Flow", "l/s", utc,
                                          utc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), 10.0 + i % 7});
            }
            std::reverse(write.readings.begin(), write.readings.end());
        }
        if (!store->write(write, &error)) {
            std::fprintf(stderr, "store: %s\n", qPrintable(error));
            return false;
        }
    }
    stations.write("[store]\nurl = sqlite:flow.db\n");
    return true;
}

// One client: connects, asks, reads to the end, records the time, and again.
class Client : public QObject {
public:
    Client(quint16 port, int requests, std::vector<double> *latencies, int *running)
        : port_(port), left_(requests), latencies_(latencies), running_(running)
    {
        ++*running_;
        next();
    }

private:
    void next()
    {
        if (left_-- == 0) {
            if (--*running_ == 0)
                QCoreApplication::quit();
            return;
        }
        socket_ = std::make_unique<QTcpSocket>();
        bytes_.clear();
        connect(socket_.get(), &QTcpSocket::connected, this, [this] {
            socket_->write(kRequest);
        });
        connect(socket_.get(), &QTcpSocket::readyRead, this, [this] { bytes_ += socket_->readAll(); });
        connect(socket_.get(), &QTcpSocket::disconnected, this, [this] {
            bytes_ += socket_->readAll();
            if (bytes_.startsWith("HTTP/1.1 200"))
                latencies_->push_back(timer_.nsecsElapsed() / 1e6);
            else
                ++failures;
            socket_.release()->deleteLater();
            QTimer::singleShot(0, this, [this] { next(); });
        });
        timer_.start();
        socket_->connectToHost(QHostAddress::LocalHost, port_);
    }

    quint16 port_;
    int left_;
    std::vector<double> *latencies_;
    int *running_;
    std::unique_ptr<QTcpSocket> socket_;
    QByteArray bytes_;
    QElapsedTimer timer_;

public:
    int failures = 0;
};

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int perClient = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QTemporaryDir dir;
    QElapsedTimer setup;
    setup.start();
    if (!dir.isValid() || !makeStore(dir.path()))
        return 1;
    std::printf("store of %d stations written in %.1f s\n", kStations, setup.elapsed() / 1000.0);

    QProcess serve;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("OSTRAND_CLI_NOW"), QString::fromLatin1(kNow));
    serve.setProcessEnvironment(environment);
    serve.setWorkingDirectory(dir.path());
    serve.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    serve.start(QStringLiteral(OSTRAND_CLI),
                {"serve", "--stations", QDir(dir.path()).filePath("stations.ini"), "--listen", "127.0.0.1:0"});
    QByteArray out;
    quint16 port = 0;
    const QRegularExpression url(QStringLiteral("^http://127.0.0.1:(\\d+)/"));
    while (port == 0 && serve.waitForReadyRead(30000)) {
        out += serve.readAllStandardOutput();
        if (const auto m = url.match(QString::fromUtf8(out)); m.hasMatch())
            port = quint16(m.captured(1).toUInt());
    }
    if (port == 0) {
        std::fprintf(stderr, "serve did not start\n");
        return 1;
    }
    // One answer alone first: what a single client sees.
    {
        QTcpSocket one;
        QElapsedTimer timer;
        timer.start();
        one.connectToHost(QHostAddress::LocalHost, port);
        one.waitForConnected(5000);
        one.write(kRequest);
        QByteArray bytes;
        while (one.state() == QAbstractSocket::ConnectedState && one.waitForReadyRead(10000))
            bytes += one.readAll();
        bytes += one.readAll();
        std::printf("one client alone: %.1f ms, %lld bytes, %s\n", timer.nsecsElapsed() / 1e6,
                    static_cast<long long>(bytes.size()), bytes.left(bytes.indexOf('\r')).constData());
    }

    std::vector<double> latencies;
    int running = 0;
    std::vector<std::unique_ptr<Client>> clients;
    QElapsedTimer wall;
    wall.start();
    for (int c = 0; c < kClients; ++c)
        clients.push_back(std::make_unique<Client>(port, perClient, &latencies, &running));
    app.exec();
    const double seconds = wall.elapsed() / 1000.0;
    int failures = 0;
    for (const auto &client : clients)
        failures += client->failures;
    ::kill(pid_t(serve.processId()), SIGTERM);
    serve.waitForFinished(10000);

    if (latencies.empty()) {
        std::fprintf(stderr, "no answer came (%d failed)\n", failures);
        return 1;
    }
    const double p95 = percentile(latencies, 0.95);
    std::printf("/api/stations, %d stations, %d clients at once, %zu answers (%d failed) in %.1f s (%.0f a second)\n",
                kStations, kClients, latencies.size(), failures, seconds, latencies.size() / seconds);
    std::printf("median %.1f ms, 95th percentile %.1f ms (goal under %.0f ms: %s), 99th %.1f ms, slowest %.1f ms\n",
                percentile(latencies, 0.5), p95, kGoalMs, p95 < kGoalMs ? "met" : "NOT met",
                percentile(latencies, 0.99), percentile(latencies, 1.0));
    return 0;
}
