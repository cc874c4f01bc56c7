// collect --listen against simulated routers calling in, each test in real time.
#include "cli_run.h"
#include "metersim_process.h"
#include "postgres_server.h"
#include "store/store_open.h"
#include "store/reading_store.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace ostrand::testing;

namespace {

// Started before the tests run, for the whole binary.
PostgresServer &server = PostgresServer::instance();

// A fixed log, so a meter downloaded directly gives the same file.
const QStringList kLog{"--start", "2024-01-01 00:15", "--records", "40", "--baud", "9600"};
// A log long enough that a connection dropping after 2900 bytes drops in the middle of it.
const QStringList kLongLog{"--records", "96"};

// A program run for a test: its stdout lines gathered as they come.
class Program {
public:
    explicit Program(const QString &program, const QStringList &arguments, const QString &dir = {})
    {
        process_.setWorkingDirectory(dir);
        process_.start(program, arguments);
        process_.waitForStarted(5000);
    }
    ~Program()
    {
        process_.kill();
        process_.waitForFinished(3000);
    }
    // Waits until a stdout line matches `pattern` `times` times; the last match.
    QRegularExpressionMatch waitFor(const QString &pattern, int times = 1, int timeoutMs = 30000)
    {
        const QRegularExpression re(pattern);
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            out_ += process_.readAllStandardOutput();
            err_ += process_.readAllStandardError();
            QRegularExpressionMatch last;
            int seen = 0;
            for (const QString &line : QString::fromUtf8(out_).split(u'\n')) {
                if (const auto m = re.match(line); m.hasMatch()) {
                    ++seen;
                    last = m;
                }
            }
            if (seen >= times || timer.elapsed() > timeoutMs || process_.state() != QProcess::Running)
                return seen >= times ? last : QRegularExpressionMatch();
            process_.waitForReadyRead(100);
        }
    }
    QString errors()
    {
        err_ += process_.readAllStandardError();
        return QString::fromUtf8(err_);
    }
    // SIGTERM; the exit code and how long it took to end, -1 when it had to be killed.
    std::pair<int, qint64> terminate()
    {
        QElapsedTimer timer;
        timer.start();
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        const bool ended = process_.waitForFinished(10000);
        errors();
        return {ended && process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1, timer.elapsed()};
    }
    void kill() { process_.kill(); process_.waitForFinished(3000); }

private:
    QProcess process_;
    QByteArray out_;
    QByteArray err_;
};

struct Listener : Program {
    Listener(const QString &stations, const QString &dir, const QStringList &extra = {})
        : Program(OSTRAND_CLI, QStringList{"collect", "--stations", stations, "--listen", "127.0.0.1:0", "--report",
                                           QDir(dir).filePath("report.json")} + extra,
                  dir)
    {
        port = waitFor("^listening on .*:(\\d+) for").captured(1);
    }
    QString port;
};

Program router(const QString &port, const QStringList &arguments)
{
    return Program(OSTRAND_METERSIM, QStringList{"--call-in", "127.0.0.1:" + port, "--reconnect-after", "1"} + kLog + arguments);
}

// The file a direct download of the same meter gives.
QByteArray directDownload(const QString &dir, const QStringList &meter = {})
{
    MeterSimProcess sim;
    // The same log without the serial pacing: only the contents are compared.
    EXPECT_TRUE(sim.start(dir, kLog.mid(0, 4) + meter, "direct"));
    const QString path = QDir(dir).filePath("direct.csv");
    EXPECT_EQ(runCli({"download", "--port", sim.linkPath(), "--output", path}).exitCode, 0);
    return readFileBytes(path);
}

size_t storedReadings(const QString &url, const QString &dir, const QString &station)
{
    QString error;
    const auto reader = ostrand::collect::openStoreReader(url, dir, &error);
    const auto readings = reader ? reader->readings({station, {}, {}, {}}, &error) : std::nullopt;
    EXPECT_TRUE(readings.has_value()) << qPrintable(error);
    return readings ? readings->size() : 0;
}

QString stationsFile(const QString &dir, const QString &store, const QString &stations)
{
    const QString path = QDir(dir).filePath("stations.ini");
    const QString storeGroup = store.isEmpty() ? QString() : QString("[store]\nurl = %1\n").arg(store);
    writeFileBytes(path, (storeGroup + stations).toUtf8());
    return path;
}

// What status says of the stations, waiting up to 5 s for it to say `wanted`.
QString statusOf(const QString &stations, const QString &wanted)
{
    QString said;
    for (QElapsedTimer waited; !waited.isValid() || waited.elapsed() < 5000; QThread::msleep(100)) {
        if (!waited.isValid())
            waited.start();
        said = runCli({"status", "--stations", stations}).lines.join('\n');
        if (said.contains(QRegularExpression(wanted)))
            break;
    }
    return said;
}

} // namespace

// Each way a router tells who it is, with heartbeats every 0.2 s (several land inside
// replies, which go out in 64-byte packets), into SQLite: the file a direct download gives,
// every reading stored once, the meter confirmed once.
TEST(CallIn, eachKindOfRouterIsCollectedAsADirectDownloadWouldBe)
{
    struct Case {
        const char *what;
        QString keys;
        QStringList router;
    } cases[] = {
        {"ID once", "call-in = north-1\nheartbeat = PING\n", {"--call-in-id", "north-1", "--heartbeat", "PING"}},
        {"ID every packet", "call-in = hex:00ff17\ncall-in-id = every\nheartbeat = hex:fefefefe\n",
         {"--call-in-id", "hex:00ff17", "--call-in-id-mode", "every", "--heartbeat", "hex:fefefefe"}},
        {"known by address", "call-in-from = 127.0.0.0/8\nheartbeat = PING\n", {"--heartbeat", "PING"}},
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        const QString stations = stationsFile(dir.path(), "sqlite:store.db", "[north]\n" + c.keys + "interval = 0\noutput = north.csv\n");
        Listener listener(stations, dir.path());
        ASSERT_FALSE(listener.port.isEmpty()) << c.what << qPrintable(listener.errors());
        Program meter = router(listener.port, c.router + QStringList{"--heartbeat-every", "0.2"});
        ASSERT_TRUE(meter.waitFor("^confirmed").hasMatch()) << c.what << qPrintable(listener.errors());
        ASSERT_TRUE(listener.waitFor("^north: ok, 40 new rows").hasMatch()) << c.what << qPrintable(listener.errors());
        // What the listener heard is in the store for status.
        const QString connected = ", connected since \\S+Z from 127\\.0\\.0\\.1:\\d+, last heard";
        EXPECT_TRUE(statusOf(stations, "^north: OK.*" + connected).contains(QRegularExpression("^north: OK.*" + connected)))
            << c.what;
        const auto [exitCode, ms] = listener.terminate();
        EXPECT_TRUE(statusOf(stations, "not connected since").contains("not connected since")) << c.what;
        EXPECT_EQ(exitCode, 0) << c.what;
        EXPECT_LT(ms, 5000) << c.what;
        EXPECT_EQ(readFileBytes(dir.filePath("north.csv")), directDownload(dir.path())) << c.what;
        EXPECT_EQ(storedReadings("sqlite:store.db", dir.path(), "north"), 40u * 3) << c.what;
        const QJsonObject report = QJsonDocument::fromJson(readFileBytes(dir.filePath("report.json")))["stations"][0].toObject();
        EXPECT_EQ(report["result"].toString(), "ok") << c.what;
        EXPECT_TRUE(listener.errors().contains("north: called in from 127.0.0.1:")) << c.what;
    }
}

// The router's connection drops in the middle of the download (the meter's labels read again
// after the reconnect take most of a connection's 2900 bytes) and it calls back a second later:
// the same operation goes on, every reading once, confirmed once.
TEST(CallIn, aRouterThatDropsAndCallsBackMidDownloadLosesAndRepeatsNothing)
{
    QTemporaryDir dir;
    const QString stations = stationsFile(dir.path(), "sqlite:store.db", "[north]\ncall-in = north-1\ninterval = 0\noutput = north.csv\n");
    Listener listener(stations, dir.path());
    Program meter = router(listener.port, QStringList{"--call-in-id", "north-1", "--drop-each-line-after", "2900"} + kLongLog);
    // Two downloads' worth of wire time at 9600 baud and the pauses around the drop.
    ASSERT_TRUE(meter.waitFor("^confirmed", 1, 90000).hasMatch()) << qPrintable(listener.errors());
    EXPECT_TRUE(meter.waitFor("^dropped north-1").hasMatch());
    EXPECT_TRUE(listener.waitFor("^north: ok, 96 new rows").hasMatch());
    listener.terminate();
    EXPECT_EQ(meter.waitFor("^confirmed", 2, 0).hasMatch(), false);
    EXPECT_EQ(readFileBytes(dir.filePath("north.csv")), directDownload(dir.path(), kLongLog));
    EXPECT_EQ(storedReadings("sqlite:store.db", dir.path(), "north"), 96u * 3);
}

// Callers that are no station's, or send nonsense, are refused with their address and harm
// nobody; a stale connection for an ID gives way to the newer one.
TEST(CallIn, strangersAreRefusedAndAStaleConnectionGivesWayToTheNewOne)
{
    QTemporaryDir dir;
    const QString stations = stationsFile(dir.path(), "sqlite:store.db",
                                          "[north]\ncall-in = north-1\ninterval = 0\noutput = north.csv\n"
                                          "[south]\ncall-in = south-1\noutput = south.csv\n");
    Listener listener(stations, dir.path());
    const auto call = [&](const QByteArray &bytes) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost("127.0.0.1", listener.port.toUShort());
        EXPECT_TRUE(socket->waitForConnected(3000));
        socket->write(bytes);
        socket->flush();
        return socket;
    };
    const auto unknown = call("south-7");
    const auto garbage = call(QByteArray(300, 'n'));
    const auto stale = call("north-1");
    // A caller with a station's ID that answers nothing but nonsense.
    const auto impostor = call("south-1" + QByteArray(200, '\x5a'));
    // A flood of callers that say nothing: those past the bound for one address are closed at
    // once, the rest after 10 s.
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    for (int i = 0; i < 20; ++i)
        flood.push_back(call({}));
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 3000 && !listener.errors().contains("north: called in"))
        stale->waitForReadyRead(100);
    while (wait.elapsed() < 15000 && listener.errors().count("sent no ID") < 15)
        stale->waitForReadyRead(100);
    Program meter = router(listener.port, {"--call-in-id", "north-1"});
    ASSERT_TRUE(meter.waitFor("^confirmed").hasMatch()) << qPrintable(listener.errors());
    // The stale connection was closed, and nothing was asked on it once the newer one came.
    EXPECT_TRUE(stale->state() == QAbstractSocket::UnconnectedState || stale->waitForDisconnected(3000));
    listener.terminate();
    const QString log = listener.errors();
    EXPECT_TRUE(log.contains(QRegularExpression("refused a call from 127.0.0.1:\\d+: unknown ID 'south-7'"))) << qPrintable(log);
    EXPECT_TRUE(log.contains(QRegularExpression("refused a call from 127.0.0.1:\\d+: unknown ID 'nnn"))) << qPrintable(log);
    EXPECT_TRUE(log.contains("a newer call from")) << qPrintable(log);
    EXPECT_TRUE(log.contains("callers from this address are waiting to say who they are")) << qPrintable(log);
    // Sixteen wait from one address (the impostor among them while its bytes are unread).
    EXPECT_GE(log.count("callers from this address are waiting to say who they are"), 4) << qPrintable(log);
    EXPECT_EQ(readFileBytes(dir.filePath("north.csv")), directDownload(dir.path()));
    EXPECT_FALSE(QFile::exists(dir.filePath("south.csv")));
    EXPECT_EQ(storedReadings("sqlite:store.db", dir.path(), "south"), 0u);
}

// A meter still logging, collected again each interval while its router stays connected.
TEST(CallIn, aConnectedStationIsCollectedAgainEachInterval)
{
    QTemporaryDir dir;
    const QString stations = stationsFile(dir.path(), {}, "[north]\ncall-in = north-1\ninterval = 3\noutput = north.csv\n");
    Listener listener(stations, dir.path());
    Program meter = router(listener.port, {"--call-in-id", "north-1", "--heartbeat", "PING", "--heartbeat-every",
                                           "1", "--log-every-seconds", "1"});
    ASSERT_TRUE(listener.waitFor("^north: ok", 3, 20000).hasMatch()) << qPrintable(listener.errors());
    // Without a store, status reads the call from beside the station's file.
    const QString connected = "^north: OK.*, connected since \\S+Z from 127";
    EXPECT_TRUE(statusOf(stations, connected).contains(QRegularExpression(connected)));
    listener.terminate();
    // One connection all along, each collection taking what was logged since the last.
    EXPECT_EQ(listener.errors().count("called in from"), 1);
    EXPECT_EQ(listener.errors().count("a newer call"), 0);
    EXPECT_GT(readFileBytes(dir.filePath("north.csv")).count('\n'), 41);
}

// Two collector hosts sharing a PostgreSQL store with claims, four routers that know both
// addresses: the first collector is killed once it has collected a station, the routers go to
// the second, and every meter's log is stored once, as a direct download of it gives it.
TEST(CallIn, twoCollectorsWithClaimsOneKilledStoreEveryReadingOnce)
{
    const QString url = server.newDatabase("callin_claims");
    ASSERT_FALSE(url.isEmpty()) << qPrintable(server.problem());
    QTemporaryDir dir;
    QString stations;
    for (int k = 1; k <= 4; ++k)
        stations += QString("[north-%1]\ncall-in = north-000%1\ninterval = 0\noutput = north-%1.csv\n").arg(k);
    const QString path = stationsFile(dir.path(), url, stations);
    std::unique_ptr<Listener> hosts[2];
    for (int h = 0; h < 2; ++h) {
        // Each its own lock folder, as on a host of its own.
        qputenv("RUNTIME_DIRECTORY", QDir(dir.path()).filePath(QString("host%1").arg(h)).toUtf8());
        hosts[h] = std::make_unique<Listener>(path, dir.path(), QStringList{"--claim"});
        ASSERT_FALSE(hosts[h]->port.isEmpty()) << qPrintable(hosts[h]->errors());
    }
    qunsetenv("RUNTIME_DIRECTORY");
    Program meters(OSTRAND_METERSIM, QStringList{"--call-in", "127.0.0.1:" + hosts[0]->port + ",127.0.0.1:" + hosts[1]->port,
                                                 "--reconnect-after", "1", "--meters", "4", "--call-in-id", "north-%04d"} + kLog);
    ASSERT_TRUE(hosts[0]->waitFor(": ok, 40 new rows").hasMatch()) << qPrintable(hosts[0]->errors());
    hosts[0]->kill();
    // Every station is stored whole, whichever collector took it. (One the killed collector
    // stored but never confirmed has nothing new for the other, which then confirms nothing.)
    QElapsedTimer waited;
    waited.start();
    for (int k = 1; k <= 4; ++k) {
        const QString name = QString("north-%1").arg(k);
        while (waited.elapsed() < 60000 && storedReadings(url, dir.path(), name) < 40u * 3)
            QThread::msleep(100);
        EXPECT_EQ(storedReadings(url, dir.path(), name), 40u * 3) << qPrintable(name);
        EXPECT_EQ(readFileBytes(dir.filePath(name + ".csv")), directDownload(dir.path(), {"--meter-number", QString::number(k)}))
            << qPrintable(name);
    }
    hosts[1]->terminate();
}
