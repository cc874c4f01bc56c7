#include "cli_run.h"
#include "metersim_process.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace ostrand::testing;

namespace {

// ostrand-cli run as if it were `now` (the commands' test hook).
CliRun runAt(const char *now, const QStringList &arguments)
{
    qputenv("OSTRAND_CLI_NOW", now);
    const CliRun run = runCli(arguments, {}, 60000);
    qunsetenv("OSTRAND_CLI_NOW");
    return run;
}

} // namespace

// Two stations collected at once; a day and three hours later one of them has gone silent.
TEST(StationHealthE2e, aStationSilentPastStaleAfterTurnsTheStatusTo1)
{
    QTemporaryDir dir;
    const QString stations = dir.filePath("stations.ini");
    const QStringList log{"--records", "3", "--channels", "1"};
    MeterSimProcess steady, quiet;
    ASSERT_TRUE(steady.start(dir.path(), log, "steady"));
    ASSERT_TRUE(quiet.start(dir.path(), log, "quiet"));
    writeFileBytes(stations, "[steady]\nport = steady\noutput = steady.csv\n[quiet]\nport = quiet\noutput = quiet.csv\n");
    const QStringList collect{"collect", "--stations", stations, "--retries", "0"};
    const QStringList status{"status", "--stations", stations};

    EXPECT_EQ(runAt("2026-12-05T02:30:00Z", collect).exitCode, 0);
    const CliRun fresh = runAt("2026-12-06T03:30:00Z", status);
    EXPECT_EQ(fresh.exitCode, 0) << qPrintable(fresh.lines.join('\n') + fresh.errors);

    quiet.stop();
    MeterSimProcess silent;
    ASSERT_TRUE(silent.start(dir.path(), log + QStringList{"--silent"}, "quiet"));
    EXPECT_EQ(runAt("2026-12-06T05:30:00Z", collect).exitCode, 6);
    const CliRun stale = runAt("2026-12-06T05:31:00Z", status);
    EXPECT_EQ(stale.exitCode, 1) << qPrintable(stale.errors);
    ASSERT_EQ(stale.lines.size(), 2) << qPrintable(stale.lines.join('\n'));
    EXPECT_TRUE(stale.lines[0].startsWith("steady: ok, last success 2026-12-06T05:30:")) << qPrintable(stale.lines[0]);
    EXPECT_TRUE(stale.lines[1].startsWith("quiet: stale, last success 2026-12-05T02:30:")) << qPrintable(stale.lines[1]);
    EXPECT_TRUE(stale.lines[1].contains(", attempts in 24 h: 1, failed: 1, last reading ")) << qPrintable(stale.lines[1]);
    EXPECT_TRUE(stale.lines[1].contains(", last error: Error in Downloading!! (No answer from address 1 on ")) << qPrintable(stale.lines[1]);

    const CliRun json = runAt("2026-12-06T05:31:00Z", status + QStringList{"--json", "--stale-after", "28"});
    EXPECT_EQ(json.exitCode, 0);
    const QJsonValue quietJson = QJsonDocument::fromJson(json.lines.join('\n').toUtf8())["stations"][1];
    EXPECT_EQ(quietJson["name"].toString(), "quiet");
    EXPECT_EQ(quietJson["stale"], QJsonValue(false));
    EXPECT_EQ(quietJson["failures24h"].toInt(), 1);
}

TEST(ExportE2e, aCollectedStationExportsAsTheHandWrittenFilesInEachFormat)
{
    QTemporaryDir dir;
    const QString expected = QStringLiteral(OSTRAND_EXPECTED_DIR "/summer-london");
    const QString store = "sqlite:" + dir.filePath("store.db");

    MeterSimProcess meter;
    ASSERT_TRUE(meter.start(dir.path(), {"--log-file", expected + ".log", "--labels", "Flow (GPM),Total (Gal),Level"}));
    const QString stations = dir.filePath("stations.ini");
    writeFileBytes(stations, "[store]\nurl = sqlite:store.db\n\n[north pump]\nport = " + meter.linkPath().toUtf8()
                            + "\noutput = north.csv\ntimezone = Europe/London\n");
    const CliRun collected = runCli({"collect", "--stations", stations});
    ASSERT_EQ(collected.exitCode, 0) << qPrintable(collected.errors);

    for (const char *format : {"csv", "iso-csv", "influx"}) {
        SCOPED_TRACE(format);
        const QString suffix = format == QLatin1String("csv") ? ".csv" : format == QLatin1String("iso-csv") ? ".iso.csv" : ".influx";
        const QString output = dir.filePath(QStringLiteral("export") + suffix);
        const CliRun run = runCli({"export", "--store", store, "--station", "north pump", "--format", format, "--output", output});
        ASSERT_EQ(run.exitCode, 0) << qPrintable(run.errors);
        EXPECT_EQ(readFileBytes(output).toStdString(), readFileBytes(expected + suffix).toStdString());
    }
    // The window's own file of the same readings, as collect wrote it.
    EXPECT_EQ(readFileBytes(dir.filePath("north.csv")), readFileBytes(expected + ".csv"));
    const CliRun window = runCli({"export", "--store", store, "--station", "north pump", "--format", "iso-csv",
                                  "--channel", "3", "--from", "2026-07-01T09:30:00+01:00", "--to", "2026-07-01T08:45:00Z"});
    EXPECT_EQ(window.lines, QStringList({"Time (UTC),Offset,Level\r", ",,\r", "2026-07-01T08:30:00Z,+01:00,2.25\r"}));
}
