#include "cli_run.h"
#include "metersim_process.h"
#include "qt_printers.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// ostrand-metersim behind its Hayes modem; the modem connects a tenth of a second after the dial.
class DialerEndToEnd : public ::testing::Test {
protected:
    void startModem(const QStringList &arguments = {})
    {
        ASSERT_TRUE(sim.start(QStringList{"--modem", "--connect-delay-ms", "100"} + arguments));
    }
    // A modem in command mode echoes "AT" and answers it; online it would pass it to the meter.
    bool modemAnswersAttention() { return sim.exchange("AT\r", 9).contains("OK"); }

    QTemporaryDir dir;
    MeterSimProcess sim;
};

} // namespace

TEST_F(DialerEndToEnd, theCommandLineDialsTheModemAndHangsItUpAgain)
{
    startModem();
    const CliRun dial = runCli({"dial", "--port", sim.linkPath(), "--number", "5551234"});
    EXPECT_EQ(dial.exitCode, 0);
    ASSERT_EQ(dial.lines.size(), 2) << dial.lines.join(u'|').toStdString();
    EXPECT_EQ(dial.lines[0], "Dialing 5551234");
    EXPECT_TRUE(dial.lines[1].contains("CONNECT 9600")) << dial.lines[1].toStdString();
    EXPECT_FALSE(dial.lines[1].contains(u'\r'));

    const CliRun hangup = runCli({"hangup", "--port", sim.linkPath()});
    EXPECT_EQ(hangup.exitCode, 0);
    EXPECT_EQ(hangup.lines, (QStringList{"Hanging up Line", "Okay"}));
    EXPECT_TRUE(modemAnswersAttention());
}

TEST_F(DialerEndToEnd, aDownloadWithDialFetchesTheLogOverTheConnectionAndThenHangsUp)
{
    startModem({"--records", "20", "--channels", "2"});
    const QString file = dir.filePath(QStringLiteral("modem.csv"));
    const CliRun run =
        runCli({"download", "--port", sim.linkPath(), "--dial", "42", "--output", file});
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_GE(run.lines.size(), 6) << run.lines.join(u'|').toStdString();
    EXPECT_EQ(run.lines[0], "Dialing 42");
    EXPECT_TRUE(run.lines[1].contains("CONNECT")) << run.lines[1].toStdString();
    EXPECT_EQ(run.lines[2], "Downloading");
    EXPECT_EQ(run.lines.mid(run.lines.size() - 3),
              (QStringList{"Finished. Data in File", "Hanging up Line", "Okay"}));
    QFile csv(file);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().count('\n'), 21) << "a heading and 20 instants";
    EXPECT_TRUE(modemAnswersAttention());
}

TEST_F(DialerEndToEnd, badUsageAndAPortThatWillNotOpenGetTheirExitStatus)
{
    const QString missing = dir.filePath(QStringLiteral("no-such-port"));
    EXPECT_EQ(runCli({"dial", "--port", missing}).exitCode, 64) << "no number";
    EXPECT_EQ(runCli({"hangup", "--port", missing}).exitCode, 2);
    EXPECT_EQ(runCli({"download", "--port", missing, "--dial", "1"}).exitCode, 5);
}
