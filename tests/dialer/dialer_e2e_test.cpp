#include "cli_run.h"
#include "metersim_process.h"
#include "qt_printers.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand::testing;

// ostrand-metersim behind its Hayes modem, which connects a tenth of a second after the dial.
TEST(DialerEndToEnd, theCommandLineDialsDownloadsOverTheConnectionAndHangsUpAndBadUsageGetsItsExitStatus)
{
    QTemporaryDir dir;
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start({"--modem", "--connect-delay-ms", "100", "--records", "20", "--channels", "2"}));
    // A modem in command mode echoes "AT" and answers it; online it would pass it to the meter.
    const auto modemAnswersAttention = [&] { return sim.exchange("AT\r", 9).contains("OK"); };
    const QString file = dir.filePath(QStringLiteral("modem.csv"));
    const CliRun run = runCli({"download", "--port", sim.linkPath(), "--dial", "42", "--output", file});
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_GE(run.lines.size(), 6) << run.lines.join(u'|').toStdString();
    EXPECT_EQ(run.lines.mid(0, 3), (QStringList{"Dialing 42", run.lines[1], "Downloading"}));
    EXPECT_TRUE(run.lines[1].contains("CONNECT 9600") && !run.lines[1].contains(u'\r'));
    EXPECT_EQ(run.lines.mid(run.lines.size() - 3), (QStringList{"Finished. Data in File", "Hanging up Line", "Okay"}));
    EXPECT_EQ(readFileBytes(file).count('\n'), 21) << "a heading and 20 instants";
    EXPECT_TRUE(modemAnswersAttention());

    const CliRun dial = runCli({"dial", "--port", sim.linkPath(), "--number", "5551234"});
    EXPECT_EQ(dial.exitCode, 0);
    EXPECT_EQ(dial.lines.value(0), "Dialing 5551234");
    const CliRun hangup = runCli({"hangup", "--port", sim.linkPath()});
    EXPECT_EQ(hangup.exitCode, 0);
    EXPECT_EQ(hangup.lines, (QStringList{"Hanging up Line", "Okay"}));
    EXPECT_TRUE(modemAnswersAttention());

    // Bad usage and a port that will not open get their exit status.
    const QString missing = QStringLiteral("/nonexistent/no-such-port");
    const std::pair<QStringList, int> rows[] = {
        {{"dial", "--port", missing}, 64}, // no number
        {{"display", "--port", "COM1", "--type", "9000"}, 64},
        {{"display", "--port", "COM1", "--type", "8100", "--keys", "E"}, 64}, // keys only for the 7700
        {{"hangup", "--port", missing}, 2},
        {{"download", "--port", missing, "--dial", "1"}, 5},
        // A CR would end the dial command and send the rest to the modem as a command.
        {{"dial", "--port", missing, "--number", "555\rATH"}, 64},
        {{"download", "--port", missing, "--dial", "555\rATZ"}, 64},
    };
    for (const auto &[arguments, exitCode] : rows)
        EXPECT_EQ(runCli(arguments).exitCode, exitCode) << arguments.join(u' ').toStdString();
}
