// ostrand-metersim as meters behind cellular routers that call in: the real program against
// a listening socket in the test, which plays the collector. The replies are compared with
// the meter's own answers on its core, so the router may cut, prefix and interleave them but
// never change them.
#include "crc16.h"
#include "meter.h"
#include "meter_setup.h"
#include "metersim_process.h"
#include "sim_options.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <memory>

using namespace ostrand::sim;
using ostrand::testing::MeterSimProcess;

namespace {

const QStringList kLog{"--records", "40", "--channels", "3", "--start", "2026-12-01 00:00"};

QByteArray framed(const char *hex)
{
    QByteArray frame = QByteArray::fromHex(hex);
    appendCrc(frame);
    return frame;
}

// Registers 76-83 (21-byte reply), 64 words of the log (137-byte reply: three packets of at
// most 64), the confirmation and the last-download marker.
const QByteArray kPointerRead = framed("0103004C0008");
const QByteArray kLogBlockRead = framed("01600880000040");
const QByteArray kConfirm = framed("0162");
const QByteArray kMarkerRead = framed("01610000000000");

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

struct IdModeCase {
    const char *name;
    QStringList options;
    QByteArray alone;  // sent right after connecting
    QByteArray prefix; // in front of each packet
};

class IdModes : public ::testing::TestWithParam<IdModeCase> {};

TEST_P(IdModes, theIdGoesOutAsTheModeSaysAndTheReplyIsTheMetersOwn)
{
    const IdModeCase &c = GetParam();
    Collector collector;
    CallInSim sim;
    ASSERT_TRUE(sim.start(callIn(collector, c.options))) << sim.errors().toStdString();
    QTcpSocket *router = collector.next();
    ASSERT_TRUE(router);
    EXPECT_EQ(readBytes(router, int(c.alone.size())).toHex(), c.alone.toHex());
    EXPECT_EQ(readFor(router, 250).toHex(), QByteArray()) << "the ID alone, nothing after it";

    router->write(kPointerRead);
    const QByteArray reply = CoreMeter(kLog).answer(kPointerRead);
    ASSERT_EQ(reply.size(), 21);
    EXPECT_EQ(readBytes(router, int(c.prefix.size() + reply.size())).toHex(),
              (c.prefix + reply).toHex());
    EXPECT_EQ(readFor(router, 200), QByteArray()) << "nothing follows the reply";
}

INSTANTIATE_TEST_SUITE_P(
    CallIn, IdModes,
    ::testing::Values(
        IdModeCase{"firstByDefault", {"--call-in-id", "north-7"}, "north-7", ""},
        IdModeCase{
            "first", {"--call-in-id", "north-7", "--call-in-id-mode", "first"}, "north-7", ""},
        IdModeCase{"every",
                   {"--call-in-id", "north-7", "--call-in-id-mode", "every"},
                   "north-7",
                   "north-7"},
        IdModeCase{
            "noneWithAnId", {"--call-in-id", "north-7", "--call-in-id-mode", "none"}, "", ""},
        IdModeCase{"noId", {}, "", ""},
        IdModeCase{"binaryEvery",
                   {"--call-in-id", "hex:00FF0D0A35", "--call-in-id-mode", "every"},
                   QByteArray::fromHex("00FF0D0A35"),
                   QByteArray::fromHex("00FF0D0A35")},
        IdModeCase{"patternForOneMeter",
                   {"--call-in-id", "site-%03d", "--meter-number", "12"},
                   "site-012",
                   ""}),
    [](const auto &param) { return std::string(param.param.name); });

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

TEST(CallIn, heartbeatsComeBetweenPacketsAndInsideAReplyLongerThanAPacket)
{
    Collector collector;
    CallInSim sim;
    ASSERT_TRUE(sim.start(
        callIn(collector, {"--baud", "9600", "--heartbeat", "~HB~", "--heartbeat-every", "0.05"})));
    QTcpSocket *router = collector.next();
    ASSERT_TRUE(router);
    const QByteArray idle = readFor(router, 300);
    EXPECT_GE(idle.count("~HB~"), 3);
    EXPECT_EQ(QByteArray(idle).replace("~HB~", ""), QByteArray()) << "heartbeats alone";

    router->write(kLogBlockRead);
    const QByteArray reply = CoreMeter(kLog).answer(kLogBlockRead);
    ASSERT_EQ(reply.size(), 137);
    const Unwoven got = unweave(readFor(router, 600), "~HB~");
    EXPECT_EQ(got.rest.toHex(), reply.toHex());
    EXPECT_TRUE(got.heartbeatInside) << "137 bytes at 9600 baud take 143 ms, packets of 64";
}

TEST(CallIn, everyPacketOfALongReplyCarriesTheIdButHeartbeatsDoNot)
{
    Collector collector;
    CallInSim sim;
    ASSERT_TRUE(sim.start(
        callIn(collector, {"--baud", "9600", "--call-in-id", "ID#", "--call-in-id-mode", "every",
                           "--heartbeat", "~HB~", "--heartbeat-every", "0.03"})));
    QTcpSocket *router = collector.next();
    ASSERT_TRUE(router);
    EXPECT_EQ(QByteArray(readFor(router, 200)).replace("~HB~", ""), QByteArray("ID#"));

    router->write(kLogBlockRead);
    const QByteArray reply = CoreMeter(kLog).answer(kLogBlockRead);
    const Unwoven got = unweave(readFor(router, 600), "~HB~");
    EXPECT_TRUE(got.heartbeatInside);
    // 64 + 64 + 9 bytes, each packet behind the ID.
    EXPECT_EQ(
        got.rest.toHex(),
        ("ID#" + reply.left(64) + "ID#" + reply.mid(64, 64) + "ID#" + reply.mid(128)).toHex());
}

TEST(CallIn, aClosedConnectionIsCalledAgainAndTheMeterKeepsItsDownloadMarker)
{
    Collector collector;
    CallInSim sim;
    ASSERT_TRUE(
        sim.start(callIn(collector, {"--call-in-id", "north-1", "--reconnect-after", "0.3"})));
    QTcpSocket *first = collector.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(readBytes(first, 7), QByteArray("north-1"));
    CoreMeter core(kLog);
    first->write(kConfirm);
    EXPECT_EQ(readBytes(first, 4).toHex(), core.answer(kConfirm).toHex());
    ASSERT_TRUE(sim.waitFor("confirmed"));
    first->abort();

    QElapsedTimer sinceClose;
    sinceClose.start();
    QTcpSocket *second = collector.next(5000);
    ASSERT_TRUE(second) << "no reconnect";
    EXPECT_GE(sinceClose.elapsed(), 200) << "the pause before connecting again";
    EXPECT_EQ(readBytes(second, 7), QByteArray("north-1"));
    second->write(kMarkerRead);
    const QByteArray marker = core.answer(kMarkerRead);
    EXPECT_EQ(readBytes(second, int(marker.size())).toHex(), marker.toHex());
    EXPECT_NE(marker.toHex(), CoreMeter(kLog).answer(kMarkerRead).toHex())
        << "the confirmation moved the marker";
    EXPECT_TRUE(sim.waitFor("dropped north-1: the collector closed the connection"));
    EXPECT_TRUE(sim.waitFor("connected north-1 " + collector.address(), 2));
}

TEST(CallIn, aLineDropFaultCutsTheConnectionMidReplyAndTheRouterCallsAgain)
{
    Collector collector;
    CallInSim sim;
    ASSERT_TRUE(
        sim.start(callIn(collector, {"--drop-each-line-after", "10", "--reconnect-after", "0.2"})));
    const QByteArray reply = CoreMeter(kLog).answer(kPointerRead);
    for (int connection = 1; connection <= 2; ++connection) {
        QTcpSocket *router = collector.next();
        ASSERT_TRUE(router) << "connection " << connection;
        router->write(kPointerRead);
        EXPECT_EQ(readFor(router, 400).toHex(), reply.left(10).toHex());
        EXPECT_EQ(router->state(), QAbstractSocket::UnconnectedState);
        EXPECT_TRUE(sim.waitFor("dropped meter-1: a fault dropped the line", connection));
    }
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

TEST(CallIn, threeMetersCallWithTheirOwnIdsAndLogsAndMeterTwoAnswersAsAloneOnAPty)
{
    Collector collector;
    CallInSim sim;
    ASSERT_TRUE(sim.start(callIn(collector, {"--meters", "3", "--call-in-id", "north-%04d"})));
    QMap<QByteArray, QTcpSocket *> byId;
    for (int k = 0; k < 3; ++k) {
        QTcpSocket *router = collector.next();
        ASSERT_TRUE(router);
        byId.insert(readBytes(router, 10), router);
    }
    ASSERT_EQ(byId.keys(), (QList<QByteArray>{"north-0001", "north-0002", "north-0003"}));

    QMap<QByteArray, QByteArray> blocks;
    for (auto it = byId.begin(); it != byId.end(); ++it) {
        it.value()->write(kLogBlockRead);
        blocks[it.key()] = readBytes(it.value(), 137);
    }
    for (int k = 1; k <= 3; ++k) {
        const QByteArray id = QByteArray("north-000") + QByteArray::number(k);
        EXPECT_EQ(blocks[id].toHex(),
                  CoreMeter(kLog + QStringList{"--meter-number", QString::number(k)})
                      .answer(kLogBlockRead)
                      .toHex())
            << id.constData();
    }
    EXPECT_NE(blocks["north-0001"], blocks["north-0002"]);
    EXPECT_NE(blocks["north-0002"], blocks["north-0003"]);

    MeterSimProcess alone;
    ASSERT_TRUE(alone.start(kLog + QStringList{"--meter-number", "2"}));
    EXPECT_EQ(alone.exchange(kLogBlockRead, 137).toHex(), blocks["north-0002"].toHex());

    byId["north-0003"]->write(kConfirm);
    readBytes(byId["north-0003"], 4);
    EXPECT_TRUE(sim.waitFor("confirmed north-0003"));
}

// The peak resident memory of process `pid` in MB, -1 when it cannot be read.
double peakMegabytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

TEST(CallIn, aThousandMetersWithADayOfRecordsEachFitInFarLessThan100MB)
{
    quint16 deadPort = 0;
    {
        QTcpServer gone;
        ASSERT_TRUE(gone.listen(QHostAddress::LocalHost, 0));
        deadPort = gone.serverPort();
    }
    CallInSim sim;
    ASSERT_TRUE(sim.start({"--call-in", QStringLiteral("127.0.0.1:%1").arg(deadPort), "--meters",
                           "1000", "--call-in-id", "north-%04d", "--records", "96", "--heartbeat",
                           "HB", "--heartbeat-every", "1"}))
        << sim.errors().toStdString();
    EXPECT_TRUE(sim.waitFor("unreachable north-1000"));
    const double megabytes = peakMegabytes(sim.processId());
    ASSERT_GT(megabytes, 0);
    EXPECT_LT(megabytes, 80);
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
        RefusedCase{"strayPercent", {"--call-in", "h:1", "--call-in-id", "50%"}, "may only start"},
        RefusedCase{"oddHex", {"--call-in", "h:1", "--call-in-id", "hex:0A0"}, "whole bytes"},
        RefusedCase{"everyWithoutId",
                    {"--call-in", "h:1", "--call-in-id-mode", "every"},
                    "needs --call-in-id"},
        RefusedCase{"metersWithoutCallIn", {"--meters", "3"}, "--meters needs --call-in"},
        RefusedCase{"callInWithLink", {"--call-in", "h:1", "--link", "/tmp/x"}, "does not go with"},
        RefusedCase{"noPort", {"--call-in", "h"}, "HOST:PORT"},
        RefusedCase{"heartbeatTooOften",
                    {"--call-in", "h:1", "--heartbeat", "x", "--heartbeat-every", "1,0.001"},
                    "--heartbeat-every wants seconds"},
        RefusedCase{"sourceWithoutRoom",
                    {"--call-in", "h:1", "--meters", "3", "--call-in-id", "n%d", "--call-in-source",
                     "255.255.255.254"},
                    "room for one address a meter"},
        RefusedCase{"unknownModeInAList",
                    {"--call-in", "h:1", "--call-in-id", "n", "--call-in-id-mode", "first,each"},
                    "wants first, every or none"},
        RefusedCase{"everyWithoutHeartbeat",
                    {"--call-in", "h:1", "--heartbeat-every", "2"},
                    "needs --heartbeat"}),
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
