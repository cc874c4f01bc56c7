#include "cli_run.h"
#include "metersim_process.h"
#include "qt_printers.h"
#include "ser2net_process.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ostrand::testing;

namespace {

const QStringList kLog = {"--records", "120", "--channels", "3", "--start", "2026-11-30 08:00"};

enum class Route { TcpListen, Ser2NetRaw, Ser2NetRfc2217 };

struct RouteCase {
    const char *name;
    Route route;
    // The speed the meter's side of the line ends at: the device server's
    // configured 9600, or over RFC 2217 the program's; 0 with no serial side.
    int serialBaud;
};

// The meter reached over the route, and the address that reaches it.
struct NetworkMeter {
    MeterSimProcess sim;
    Ser2NetProcess server;
    QString address;
    QTemporaryDir dir;

    // `traced`: with the frame trace, which a long download would let fill its pipe.
    bool start(Route route, const QStringList &meter, bool traced = true)
    {
        const QStringList trace = traced ? QStringList{"--verbose"} : QStringList{};
        if (route == Route::TcpListen) {
            if (!sim.start(dir.path(), QStringList{"--tcp-listen", "0"} + trace + meter))
                return false;
            address = sim.readyAddress();
            return address.startsWith(QLatin1String("tcp://"));
        }
        const auto mode = route == Route::Ser2NetRaw ? Ser2NetProcess::Mode::RawTcp : Ser2NetProcess::Mode::Rfc2217;
        if (!sim.start(dir.path(), trace + meter) || !server.start(sim.linkPath(), mode, 9600))
            return false;
        address = server.address();
        return true;
    }
};

// What the same meter gives over its own pseudo-terminal: the file any route must give.
QByteArray directDownload(const QStringList &meter)
{
    MeterSimProcess sim;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("direct.csv"));
    if (!sim.start(dir.path(), meter) || runCli({"download", "--port", sim.linkPath(), "--output", file}).exitCode != 0)
        return {};
    return readFileBytes(file);
}

QStringList displayLines(const QString &address, const QStringList &arguments)
{
    const CliRun run = runCli(QStringList{"display", "--port", address, "--baud", "19200"} + arguments);
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    return run.lines;
}

class OverTheNetwork : public ::testing::TestWithParam<RouteCase> {};

} // namespace

TEST_P(OverTheNetwork, downloadsDisplaysAndSendsAKeyAsOnASerialLine)
{
    const RouteCase &c = GetParam();
    const QByteArray direct = directDownload(kLog);
    ASSERT_FALSE(direct.isEmpty());
    NetworkMeter meter;
    ASSERT_TRUE(meter.start(c.route, kLog));
    QTemporaryDir dir;
    const QString sinceLast = dir.filePath(QStringLiteral("since.csv"));
    const QString full = dir.filePath(QStringLiteral("full.csv"));

    // Never confirmed, the meter's "since last time" is its whole log.
    const CliRun first =
        runCli({"download", "--port", meter.address, "--baud", "19200", "--since-last", "--output", sinceLast});
    EXPECT_EQ(first.exitCode, 0) << first.errors.toStdString();
    EXPECT_EQ(readFileBytes(sinceLast), direct);
    const CliRun second = runCli({"download", "--port", meter.address, "--baud", "19200", "--output", full});
    EXPECT_EQ(second.exitCode, 0) << second.errors.toStdString();
    EXPECT_EQ(readFileBytes(full), direct);
    const CliRun nothingNew =
        runCli({"download", "--port", meter.address, "--baud", "19200", "--since-last", "--output", sinceLast});
    EXPECT_EQ(nothingNew.exitCode, 1) << "both downloads were confirmed over the route";
    EXPECT_TRUE(meter.sim.waitFor(QStringLiteral("confirmed"), 2));

    const QStringList block = displayLines(meter.address, {"--type", "8300", "--flow-units", "0", "--flow-format", "0"});
    ASSERT_EQ(block.size(), 5);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^L1\\|Flow = \\d+\\.$")).match(block[0]).hasMatch())
        << block[0].toStdString();
    const QStringList plain = displayLines(meter.address, {"--type", "7700"});
    const QStringList menu = displayLines(meter.address, {"--type", "7700", "--keys", "M"});
    ASSERT_EQ(menu.size(), 5);
    EXPECT_NE(menu.value(0), plain.value(0)) << "the menu key reached the meter";
    EXPECT_EQ(meter.sim.trace().filter(QStringLiteral("<- 01 10 00 D0")).size(), 1) << "one key frame";

    const QStringList speeds = meter.sim.lines().filter(QStringLiteral("serial side at"));
    if (c.serialBaud == 0)
        EXPECT_TRUE(speeds.isEmpty());
    else
        EXPECT_EQ(speeds.value(speeds.size() - 1), QStringLiteral("serial side at %1 baud").arg(c.serialBaud));
}

INSTANTIATE_TEST_SUITE_P(Routes, OverTheNetwork,
                         ::testing::Values(RouteCase{"tcpListen", Route::TcpListen, 0},
                                           RouteCase{"ser2netRaw", Route::Ser2NetRaw, 9600},
                                           RouteCase{"ser2netRfc2217", Route::Ser2NetRfc2217, 19200}),
                         [](const auto &routeInfo) { return std::string(routeInfo.param.name); });

TEST(NetworkEndToEnd, aConnectionDroppedMidDownloadIsMadeAgainAndTheFileIsAHealthyOnesConfirmedOnce)
{
    const QStringList meter = {"--records", "3000", "--channels", "3", "--start", "2026-10-01 00:00"};
    const QByteArray direct = directDownload(meter);
    ASSERT_FALSE(direct.isEmpty());
    NetworkMeter dropping;
    ASSERT_TRUE(dropping.start(Route::TcpListen, meter + QStringList{"--drop-mid-download"}, false));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("dropped.csv"));
    const CliRun run = runCli({"download", "--port", dropping.address, "--output", file});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(readFileBytes(file), direct);
    EXPECT_TRUE(dropping.sim.waitFor(QStringLiteral("confirmed")));
    EXPECT_EQ(dropping.sim.count(QStringLiteral("dropped")), 1);
    EXPECT_EQ(dropping.sim.confirmations(), 1);
}

// A listener whose one-place queue is already full: the kernel drops further
// connection requests, so a connect to it hears nothing until it gives up.
class SilentHost {
public:
    SilentHost()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listener_, 0) != 0)
            return;
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length);
        port_ = ntohs(address.sin_port);
        for (int &filler : fillers_) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
        }
    }
    ~SilentHost()
    {
        for (const int filler : fillers_)
            ::close(filler);
        ::close(listener_);
    }
    int port() const { return port_; }

private:
    int listener_ = -1;
    int fillers_[2] = {-1, -1};
    int port_ = 0;
};

TEST(NetworkEndToEnd, aConnectionRefusedOrNeverAnsweredEndsTheDownloadNamingTheAddressAndTheReason)
{
    SilentHost silent;
    ASSERT_NE(silent.port(), 0);
    const struct {
        QString address;
        QString reason;
    } cases[] = {
        {QStringLiteral("tcp://127.0.0.1:%1").arg(freeTcpPort()), QStringLiteral("connection refused")},
        {QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.port()), QStringLiteral("timed out: no answer within 1.5 s")},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        const CliRun run = runCli({"download", "--port", c.address, "--connect-timeout", "1500", "--output",
                                   dir.filePath(QStringLiteral("none.csv"))},
                                  {}, 20000);
        EXPECT_EQ(run.exitCode, 4) << c.address.toStdString();
        EXPECT_TRUE(run.errors.contains(QStringLiteral("Cannot connect to %1: %2").arg(c.address, c.reason)))
            << run.errors.toStdString();
    }
}

TEST(NetworkEndToEnd, aFleetBehindDeviceServersIsCollectedAndAServerThatRefusesIsNamedInTheReport)
{
    const QByteArray direct = directDownload(kLog);
    NetworkMeter north;
    NetworkMeter south;
    ASSERT_TRUE(north.start(Route::TcpListen, kLog));
    ASSERT_TRUE(south.start(Route::Ser2NetRfc2217, kLog));
    const QString refusing = QStringLiteral("tcp://127.0.0.1:%1").arg(freeTcpPort());
    QTemporaryDir dir;
    QFile stations(dir.filePath(QStringLiteral("s.ini")));
    ASSERT_TRUE(stations.open(QIODevice::WriteOnly));
    stations.write(QStringLiteral("[north]\nport = %1\noutput = north.csv\n"
                                  "[south]\nport = %2\nbaud = 19200\nconnect-timeout = 3000\noutput = south.csv\n"
                                  "[gone]\nport = %3\noutput = gone.csv\n")
                       .arg(north.address, south.address, refusing)
                       .toUtf8());
    stations.close();
    const CliRun run = runCli({"collect", "--stations", stations.fileName(), "--retries", "0", "--report",
                               dir.filePath(QStringLiteral("r.json"))});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(readFileBytes(dir.filePath(QStringLiteral("north.csv"))), direct);
    EXPECT_EQ(readFileBytes(dir.filePath(QStringLiteral("south.csv"))), direct);
    EXPECT_TRUE(south.sim.waitFor(QStringLiteral("serial side at 19200 baud")));
    const QByteArray report = readFileBytes(dir.filePath(QStringLiteral("r.json")));
    EXPECT_TRUE(report.contains(QStringLiteral("Cannot connect to %1: connection refused").arg(refusing).toUtf8()))
        << report.toStdString();
}
