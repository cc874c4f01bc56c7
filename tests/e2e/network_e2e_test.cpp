#include "cli_run.h"
#include "metersim_process.h"
#include "qt_printers.h"
#include "ser2net_process.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace ostrand::testing;

namespace {

const QStringList kLog = {"--records", "120", "--channels", "3", "--start", "2026-11-30 08:00"};

enum class Route { TcpListen, Ser2NetRaw, Ser2NetRfc2217 };

// The meter reached over a route, and the address that reaches it.
struct NetworkMeter {
    QTemporaryDir dir;
    MeterSimProcess sim;
    Ser2NetProcess server;
    QString address;

    // `traced`: with the frame trace, which a long download would let fill its pipe.
    bool start(Route route, const QStringList &meter, bool traced = true)
    {
        const QStringList trace = traced ? QStringList{"--verbose"} : QStringList{};
        const QStringList listen = route == Route::TcpListen ? QStringList{"--tcp-listen", "0"} : QStringList{};
        if (!sim.start(dir.path(), listen + trace + meter))
            return false;
        if (route == Route::TcpListen)
            return !(address = sim.lines().filter(QStringLiteral("ready tcp://")).value(0).mid(6)).isEmpty();
        return server.start(sim.linkPath(), route == Route::Ser2NetRfc2217) && !(address = server.address()).isEmpty();
    }
    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }
    CliRun download(const char *name) const { return runCli({"download", "--port", address, "--output", file(name)}); }
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

class OverTheNetwork : public ::testing::TestWithParam<std::tuple<const char *, Route, int>> {};

} // namespace

// The last column is the speed the serial side ends at: the server's own 9600 in raw mode,
// the program's 19200 over RFC 2217; 0 where there is no serial side.
TEST_P(OverTheNetwork, downloadsDisplaysAndSendsAKeyAsOnASerialLine)
{
    const auto [name, route, serialBaud] = GetParam();
    const QByteArray direct = directDownload(kLog);
    NetworkMeter meter;
    ASSERT_TRUE(meter.start(route, kLog));
    const auto cli = [&](const QStringList &arguments) {
        return runCli(QStringList{arguments.first(), "--port", meter.address, "--baud", "19200"} + arguments.mid(1));
    };
    const QString file = meter.file("got.csv");
    // Never confirmed, the meter's "since last time" is its whole log; once confirmed, nothing is new.
    EXPECT_EQ(cli({"download", "--since-last", "--output", file}).exitCode, 0);
    EXPECT_EQ(readFileBytes(file), direct);
    EXPECT_EQ(cli({"download", "--since-last", "--output", file}).exitCode, 1);

    const QStringList block = cli({"display", "--type", "8300", "--flow-units", "0", "--flow-format", "0"}).lines;
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^L1\\|Flow = \\d+\\.$")).match(block.value(0)).hasMatch());
    const QStringList plain = cli({"display", "--type", "7700"}).lines;
    const QStringList menu = cli({"display", "--type", "7700", "--keys", "M"}).lines;
    EXPECT_NE(menu.value(0), plain.value(0)) << "the menu key reached the meter";
    EXPECT_EQ(meter.sim.trace().filter(QStringLiteral("<- 01 10 00 D0")).size(), 1) << "one key frame";

    if (serialBaud) // the simulator says so a moment after the line changes
        meter.sim.waitFor(QStringLiteral("serial side at %1 baud").arg(serialBaud));
    const QStringList speeds = meter.sim.lines().filter(QStringLiteral("serial side at"));
    EXPECT_EQ(speeds.value(speeds.size() - 1), serialBaud ? QStringLiteral("serial side at %1 baud").arg(serialBaud) : "");
}

INSTANTIATE_TEST_SUITE_P(Routes, OverTheNetwork,
                         ::testing::Values(std::make_tuple("tcpListen", Route::TcpListen, 0),
                                           std::make_tuple("ser2netRaw", Route::Ser2NetRaw, 9600),
                                           std::make_tuple("ser2netRfc2217", Route::Ser2NetRfc2217, 19200)),
                         [](const auto &row) { return std::string(std::get<0>(row.param)); });

// A meter whose every connection drops ends the download after the first connection and three more, 1, 3 and 9 s apart.
TEST(NetworkEndToEnd, aServerDroppingEveryConnectionEndsTheDownloadAfterThreeReconnects)
{
    NetworkMeter dropping;
    ASSERT_TRUE(dropping.start(Route::TcpListen, kLog + QStringList{"--drop-each-line-after", "300"}, false));
    QElapsedTimer took;
    took.start();
    const CliRun run = dropping.download("never.csv");
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(run.lines.contains(QStringLiteral("Error in Downloading!!"))) << run.lines.join('\n').toStdString();
    EXPECT_TRUE(run.errors.contains(QStringLiteral("the connection to %1 was lost (closed by the far end) and 3 tries "
                                                   "to connect again failed").arg(dropping.address)))
        << run.errors.toStdString();
    EXPECT_TRUE(dropping.sim.waitFor(QStringLiteral("dropped"), 4, 2000));
    EXPECT_EQ(dropping.sim.count(QStringLiteral("dropped")), 4);
    EXPECT_GE(took.elapsed(), 13000);
    EXPECT_LT(took.elapsed(), 30000);
    EXPECT_EQ(dropping.sim.confirmations(), 0);
}
