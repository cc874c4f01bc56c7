#include "cli_run.h"
#include "metersim_process.h"
#include "pseudo_terminal.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

const QStringList kSmallLog = {"--records", "40", "--channels", "2"};

} // namespace

TEST(LineOptions, anEchoingAdapterIsReadThroughWithEchoAndNamedWithoutIt)
{
    const struct {
        const char *what;
        QStringList meter, options;
        int exitCode;
        const char *said; // on stderr
    } rows[] = {
        {"echo set for an echoing line", {"--echo"}, {"--echo"}, 0, ""},
        {"echo set for a line that does not echo", {}, {"--echo"}, 4,
         "the echo of the request did not come back: is echo set for this line?"},
        {"an echoing line not set for it", {"--echo"}, {}, 4, "set echo for this line"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        MeterSimProcess sim;
        ASSERT_TRUE(sim.start(kSmallLog + row.meter));
        const CliRun run = runCli(
            QStringList{"download", "--port", sim.linkPath(), "--output", dir.filePath("out.csv")} + row.options);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.errors.toStdString();
        EXPECT_TRUE(run.errors.contains(QLatin1String(row.said))) << run.errors.toStdString();
        if (row.exitCode == 0) {
            EXPECT_TRUE(sim.waitFor(QStringLiteral("confirmed")));
        } else {
            EXPECT_EQ(sim.confirmations(), 0);
        }
    }
}

// The simulator traces how long the line was quiet before each request.
TEST(LineOptions, everyRequestWaitsTheRequestGapAfterTheLineWentQuiet)
{
    QTemporaryDir dir;
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start(kSmallLog));
    const CliRun run = runCli(
        {"download", "--port", sim.linkPath(), "--request-gap", "300", "--output", dir.filePath("out.csv")});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    const QRegularExpression quiet(QStringLiteral("\\((\\d+) ms quiet before it\\)"));
    int requests = 0;
    for (const QString &line : sim.trace()) {
        if (const QRegularExpressionMatch m = quiet.match(line); m.hasMatch()) {
            ++requests;
            EXPECT_GE(m.captured(1).toInt(), 300) << line.toStdString();
        }
    }
    EXPECT_GE(requests, 10) << "each block and label read after the first request";
}

// 200 ms on every reply is under every resend interval: no reply time is needed.
TEST(LineOptions, aSlowPathDownloadsWholeWithoutResendsAndATerminalSeesTheTimeLeft)
{
    QTemporaryDir dir;
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start({"--records", "300", "--channels", "3", "--delay-ms", "200"}));
    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.isValid());
    const QByteArray terminalPath = QFile::encodeName(terminal.slavePath());
    const CliRun run = runCli({"download", "--port", sim.linkPath(), "--output", dir.filePath("out.csv")}, {},
                              120000, [terminalPath] {
                                  const int fd = ::open(terminalPath.constData(), O_WRONLY | O_NOCTTY);
                                  if (fd >= 0)
                                      ::dup2(fd, STDERR_FILENO);
                              });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(sim.waitFor(QStringLiteral("confirmed")));
    const QString progress = QString::fromLatin1(terminal.read(1 << 16, 500));
    EXPECT_TRUE(progress.contains(QRegularExpression(QStringLiteral("\\r +\\d+%  (a few seconds|about \\d+ (s|min)) left"))))
        << progress.toStdString();
    EXPECT_TRUE(progress.contains(QRegularExpression(QStringLiteral("\\r100% *\\n"))))
        << "no time left at the end: " << progress.toStdString();
    QString previous;
    for (const QString &line : sim.trace()) {
        if (!line.contains(QLatin1String("<- ")))
            continue;
        const QString request = line.section(QLatin1String("<- "), 1).section(QLatin1String("  ("), 0, 0);
        EXPECT_NE(request, previous) << "asked again: " << line.toStdString();
        previous = request;
    }
}
