#include "cli_run.h"
#include "metersim_process.h"
#include "pseudo_terminal.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrand;
using namespace ostrand::testing;

// Each download's stderr is a terminal, which is where its progress goes.
TEST(LineOptions, echoTheRequestGapThe1200BaudSilenceAndAPathThatAdds200msToEveryReply)
{
    const QStringList kLog = {"--records", "40", "--channels", "2"};
    const struct {
        QStringList meter, options;
        int exitCode;
        const char *said; // on stderr
    } rows[] = {
        {kLog + QStringList{"--echo"}, {"--echo", "--request-gap", "300"}, 0, ""},
        {kLog, {"--echo"}, 4, "the echo of the request did not come back: is echo set for this line?"},
        {kLog + QStringList{"--echo"}, {}, 4, "set echo for this line"},
        // Under every resend interval: no reply time is needed, and no request goes out twice.
        // (A longer log would fill the simulator's trace pipe while the command runs.)
        {{"--records", "300", "--channels", "3", "--delay-ms", "200"}, {}, 0, "%  a few seconds left"},
        // Slaves that time frames by the line's silence need 3.5 characters: 29 ms at 1200 baud.
        {{"--records", "10", "--channels", "1", "--baud", "1200"}, {"--baud", "1200"}, 0, ""},
    };
    for (const auto &row : rows) {
        QTemporaryDir dir;
        MeterSimProcess sim;
        ASSERT_TRUE(sim.start(row.meter));
        PseudoTerminal terminal;
        const QByteArray stderrPath = QFile::encodeName(terminal.slavePath());
        const CliRun run = runCli(QStringList{"download", "--port", sim.linkPath(), "--output", dir.filePath("o.csv")}
                                      + row.options, {}, 120000,
                                  [stderrPath] { ::dup2(::open(stderrPath.constData(), O_WRONLY | O_NOCTTY), 2); });
        const QString said = QString::fromLatin1(terminal.read(1 << 16, 500));
        EXPECT_EQ(run.exitCode, row.exitCode) << said.toStdString();
        EXPECT_TRUE(said.contains(QLatin1String(row.said))) << said.toStdString();
        EXPECT_TRUE(row.exitCode == 0 ? sim.waitFor("confirmed") && said.contains(QRegularExpression("\\r100% *\\n"))
                                      : sim.confirmations() == 0) << "no time left shown at the end";
        // The simulator traces each request with how long the line was quiet before it.
        const QRegularExpression quietMs("<- ([0-9A-F ]+)(  \\((\\d+) ms quiet before it\\))?$");
        const int leastQuietMs = row.options.contains("--request-gap") ? 300 : row.options.contains("1200") ? 29 : 0;
        QStringList asked;
        for (const QString &line : sim.trace().filter(quietMs)) {
            const QRegularExpressionMatch m = quietMs.match(line);
            asked << m.captured(1);
            EXPECT_TRUE(asked.size() == 1 || m.captured(3).toInt() >= leastQuietMs) << line.toStdString();
        }
        EXPECT_EQ(std::adjacent_find(asked.begin(), asked.end()), asked.end()) << "a request asked again";
        EXPECT_GE(asked.size(), row.exitCode == 0 ? 10 : 1);
    }
}
