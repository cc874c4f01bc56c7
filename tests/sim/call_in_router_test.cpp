// ostrand-metersim as meters behind cellular routers that call in: the real program against
// a listening socket in the test, which plays the collector. What the collector's own tests
// cannot see: the fleet's lists, stale connections, the order of addresses, the options.
// (ID modes, heartbeats inside replies, drops and reconnects and each meter's own log are
// checked through the collector by call_in_e2e_tests.)
#include "crc16.h"
#include "meter.h"
#include "meter_setup.h"
#include "sim_options.h"

#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <memory>

using namespace ostrand::sim;

namespace {

const QStringList kLog{"--records", "40", "--channels", "3", "--start", "2026-12-01 00:00"};

QByteArray framed(const char *hex)
{
    QByteArray frame = QByteArray::fromHex(hex);
    appendCrc(frame);
    return frame;
}

// Registers 76-83: a 21-byte reply.
const QByteArray kPointerRead = framed("0103004C0008");

// The meter the options describe, answering on its core.
struct CoreMeter {
    explicit CoreMeter(const QStringList &arguments)
    {
        SimOptions options;
        QString error;
        EXPECT_TRUE(parseOptions(arguments, &options, &error)) << error.toStdString();
        const QDateTime now(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
        EXPECT_TRUE(makeContents(options, now, &contents, &error)) << error.toStdString();
        meter = makeMeter(options, contents, now);
    }
    QByteArray answer(const QByteArray &request)
    {
        return meter->respond(request, QDateTime(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC)).bytes;
    }
    MeterContents contents;
    std::unique_ptr<Meter> meter;
};

// ostrand-metersim in call-in mode, stopped on destruction.
class CallInSim {
public:
    bool start(const QStringList &arguments)
    {
        process_.start(QStringLiteral(OSTRAND_METERSIM), arguments);
        return process_.waitForStarted(5000) && waitFor(QStringLiteral("ready call-in"));
    }
    ~CallInSim()
    {
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }
    QStringList lines()
    {
        partial_ += process_.readAllStandardOutput();
        int newline;
        while ((newline = partial_.indexOf('\n')) >= 0) {
            lines_ << QString::fromUtf8(partial_.left(newline));
            partial_.remove(0, newline + 1);
        }
        return lines_;
    }
    int count(const QString &prefix)
    {
        const QStringList all = lines();
        return int(std::count_if(all.begin(), all.end(),
                                 [&](const QString &line) { return line.startsWith(prefix); }));
    }
    bool waitFor(const QString &prefix, int times = 1, int timeoutMs = 10000)
    {
        QElapsedTimer wait;
        wait.start();
        while (count(prefix) < times && wait.elapsed() < timeoutMs &&
               process_.state() == QProcess::Running)
            process_.waitForReadyRead(20);
        return count(prefix) >= times;
    }
    QString errors() { return QString::fromUtf8(process_.readAllStandardError()); }
    qint64 processId() const { return process_.processId(); }

private:
    QProcess process_;
    QByteArray partial_;
    QStringList lines_;
};

// The test's collector: takes the routers' connections.
class Collector {
public:
    Collector() { EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0)); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server_.serverPort()); }
    // The next connection, or null when none came within `timeoutMs`.
    QTcpSocket *next(int timeoutMs = 10000)
    {
        if (!server_.hasPendingConnections())
            server_.waitForNewConnection(timeoutMs);
        return server_.nextPendingConnection();
    }
    void close() { server_.close(); }

private:
    QTcpServer server_;
};

// Everything `socket` delivers within `ms`.
QByteArray readFor(QTcpSocket *socket, int ms)
{
    QByteArray got;
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < ms) {
        socket->waitForReadyRead(std::max<int>(1, ms - int(wait.elapsed())));
        got += socket->readAll();
    }
    return got;
}

// Reads until `want` bytes came (or `ms` passed).
QByteArray readBytes(QTcpSocket *socket, int want, int ms = 5000)
{
    QByteArray got;
    QElapsedTimer wait;
    wait.start();
    while (got.size() < want && wait.elapsed() < ms) {
        if (socket->bytesAvailable() == 0)
            socket->waitForReadyRead(50);
        got += socket->read(want - got.size());
    }
    return got;
}

QStringList callIn(const Collector &collector, const QStringList &more)
{
    return QStringList{"--call-in", collector.address()} + kLog + more;
}

// Splits what came after a request into the heartbeats and the rest, noting whether a
// heartbeat came between the first and the last byte of the rest.
struct Unwoven {
    QByteArray rest;
    int heartbeats = 0;
    bool heartbeatInside = false;
};
Unwoven unweave(const QByteArray &stream, const QByteArray &heartbeat)
{
    Unwoven out;
    int heartbeatsAfterFirstByte = 0;
    int heartbeatsAfterLastByte = 0;
    for (int i = 0; i < stream.size();) {
        if (stream.mid(i, heartbeat.size()) == heartbeat) {
            ++out.heartbeats;
            if (!out.rest.isEmpty()) {
                ++heartbeatsAfterFirstByte;
                ++heartbeatsAfterLastByte;
            }
            i += int(heartbeat.size());
            continue;
        }
        out.rest += stream.at(i++);
        heartbeatsAfterLastByte = 0;
    }
    out.heartbeatInside = heartbeatsAfterFirstByte > heartbeatsAfterLastByte;
    return out;
}

TEST(CallIn, aStaleConnectionStaysOpenAndSilentBesideTheNewOneUntilTheNextDrop)
{
    Collector collector;
    CallInSim sim;
    ASSERT_TRUE(sim.start(callIn(collector, {"--call-in-id", "n1", "--drop-each-line-after", "10",
                                             "--leave-stale", "--reconnect-after", "0.2"})));
    QTcpSocket *stale = collector.next();
    ASSERT_TRUE(stale);
    stale->write(kPointerRead);
    EXPECT_EQ(readBytes(stale, 12), "n1" + CoreMeter(kLog).answer(kPointerRead).left(10));
    QTcpSocket *fresh = collector.next();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(readBytes(fresh, 2), QByteArray("n1"));
    stale->write(kPointerRead);
    EXPECT_EQ(readFor(stale, 300), QByteArray()) << "the stale connection answers nothing";
    EXPECT_EQ(stale->state(), QAbstractSocket::ConnectedState);
    EXPECT_TRUE(sim.waitFor("dropped n1: a fault dropped the line (left open, silent)"));

    fresh->write(kPointerRead);
    EXPECT_EQ(readBytes(fresh, 10).size(), 10);
    readFor(stale, 300);
    EXPECT_EQ(stale->state(), QAbstractSocket::UnconnectedState)
        << "only the latest dropped connection is kept open";
    EXPECT_EQ(fresh->state(), QAbstractSocket::ConnectedState);
}

TEST(CallIn, anUnreachableFirstAddressSendsTheNextConnectToTheSecondAndBack)
{
    quint16 deadPort = 0;
    {
        QTcpServer gone;
        ASSERT_TRUE(gone.listen(QHostAddress::LocalHost, 0));
        deadPort = gone.serverPort();
    }
    const QString dead = QStringLiteral("127.0.0.1:%1").arg(deadPort);
    Collector collector;
    CallInSim sim;
    ASSERT_TRUE(sim.start(
        QStringList{"--call-in", dead + "," + collector.address(), "--reconnect-after", "0.2"} +
        kLog));
    EXPECT_TRUE(sim.waitFor("unreachable meter-1 " + dead + ": Connection refused"));
    QTcpSocket *router = collector.next();
    ASSERT_TRUE(router);
    router->abort();
    // A drop moves on too: the dead address is tried again before this one.
    EXPECT_TRUE(sim.waitFor("unreachable meter-1 " + dead, 2));
    ASSERT_TRUE(collector.next());
    EXPECT_TRUE(sim.waitFor("connected meter-1 " + collector.address(), 2));
    EXPECT_EQ(sim.count("connected meter-1 " + dead), 0);
}

TEST(CallIn, listsGiveEachMeterOfAFleetItsOwnIdModeHeartbeatAndSourceAddress)
{
    Collector collector;
    CallInSim sim;
    ASSERT_TRUE(
        sim.start(callIn(collector, {"--meters", "3", "--call-in-id", "n%d", "--call-in-id-mode",
                                     "first,every,none", "--heartbeat", "~HB~", "--heartbeat-every",
                                     "0.05,0", "--call-in-source", "127.0.0.2"})))
        << sim.errors().toStdString();
    QMap<QString, QTcpSocket *> byAddress;
    for (int k = 0; k < 3; ++k) {
        QTcpSocket *router = collector.next();
        ASSERT_TRUE(router);
        byAddress.insert(router->peerAddress().toString(), router);
    }
    ASSERT_EQ(byAddress.keys(), (QStringList{"127.0.0.2", "127.0.0.3", "127.0.0.4"}));
    const struct {
        const char *from;
        int meter;
        QByteArray alone;
        QByteArray prefix;
        bool heartbeats;
    } meters[] = {{"127.0.0.2", 1, "n1", "", true},
                  {"127.0.0.3", 2, "n2", "n2", false},
                  {"127.0.0.4", 3, "", "", true}};
    for (const auto &m : meters) {
        QTcpSocket *router = byAddress[m.from];
        const QByteArray idle = readFor(router, 250);
        EXPECT_EQ(QByteArray(idle).replace("~HB~", ""), m.alone) << m.from;
        EXPECT_EQ(idle.contains("~HB~"), m.heartbeats) << m.from;
        router->write(kPointerRead);
        const QByteArray reply =
            CoreMeter(kLog + QStringList{"--meter-number", QString::number(m.meter)})
                .answer(kPointerRead);
        EXPECT_EQ(unweave(readFor(router, 250), "~HB~").rest.toHex(), (m.prefix + reply).toHex())
            << m.from;
    }
}

struct RefusedCase {
    const char *name;
    QStringList arguments;
    const char *reason; // part of the message
};

class RefusedOptions : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedOptions, areRefusedWithTheReason)
{
    SimOptions options;
    QString error;
    EXPECT_FALSE(parseOptions(GetParam().arguments, &options, &error));
    EXPECT_TRUE(error.contains(QLatin1String(GetParam().reason))) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    CallIn, RefusedOptions,
    ::testing::Values(
        RefusedCase{"hexIdForManyMeters",
                    {"--call-in", "h:1", "--meters", "2", "--call-in-id", "hex:0A0B"},
                    "a hex: ID cannot be numbered"},
        RefusedCase{"oneIdForManyMeters",
                    {"--call-in", "h:1", "--meters", "2", "--call-in-id", "north"},
                    "would give all 2 meters the same ID"},
        RefusedCase{"twoNumbers", {"--call-in", "h:1", "--call-in-id", "%d-%d"}, "more than one"},
        RefusedCase{"everyWithoutId",
                    {"--call-in", "h:1", "--call-in-id-mode", "every"},
                    "needs --call-in-id"},
        RefusedCase{"metersWithoutCallIn", {"--meters", "3"}, "--meters needs --call-in"},
        RefusedCase{"noPort", {"--call-in", "h"}, "HOST:PORT"},
        RefusedCase{"sourceWithoutRoom",
                    {"--call-in", "h:1", "--meters", "3", "--call-in-id", "n%d", "--call-in-source",
                     "255.255.255.254"},
                    "room for one address a meter"},
        RefusedCase{"unknownModeInAList",
                    {"--call-in", "h:1", "--call-in-id", "n", "--call-in-id-mode", "first,each"},
                    "wants first, every or none"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(CallIn, idPatternsNumberTheMeters)
{
    const struct {
        const char *pattern;
        int meter;
        const char *id;
    } cases[] = {{"north-%04d", 7, "north-0007"}, {"n%d", 1234, "n1234"},
                 {"a%%b-%3d", 5, "a%b-  5"},      {"%02d", 123, "123"},
                 {"plain", 9, "plain"},           {"50%%", 2, "50%"}};
    for (const auto &c : cases) {
        CallInSettings settings;
        settings.id = c.pattern;
        EXPECT_EQ(registrationId(settings, c.meter), QByteArray(c.id)) << c.pattern;
    }
    CallInSettings hex;
    hex.id = "%04d";
    hex.idIsHex = true;
    EXPECT_EQ(registrationId(hex, 3), QByteArray("%04d")) << "binary IDs are never patterns";
}

} // namespace
