#include "cli_run.h"
#include "store/store_open.h"
#include "export_readers.h"
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

// Every number a command takes refuses what is not one, not finite or below its range, as bad
// usage with the option's rule, before anything is read; "nan" fails every comparison, so a
// check written as "below or above the range" once let it through.
TEST(NumericOptionsE2e, notANumberInfinityAndNegativesAreRefusedAsBadUsage)
{
    QTemporaryDir dir;
    const QString stations = dir.filePath("stations.ini");
    writeFileBytes(stations, "[a]\nport = /dev/null\noutput = a.csv\n");
    const QStringList status{"status", "--stations", stations, "--stale-after"};
    const QStringList collect{"collect", "--stations", stations};
    const QStringList exportCsv{"export", "--store", "sqlite:" + dir.filePath("none.db"), "--station", "a",
                                "--format", "csv", "--channel"};
    const struct {
        QStringList arguments;
        const char *reason;
    } cases[] = {
        {status + QStringList{"nan"}, "--stale-after takes hours, more than 0 and at most 8784, not 'nan'"},
        {status + QStringList{"NaN"}, "--stale-after takes hours"},
        {status + QStringList{"-nan"}, "--stale-after takes hours"},
        {status + QStringList{"inf"}, "--stale-after takes hours"},
        {status + QStringList{"-inf"}, "--stale-after takes hours"},
        {status + QStringList{"1e999"}, "--stale-after takes hours"},
        {status + QStringList{"-1"}, "--stale-after takes hours"},
        {status + QStringList{"0"}, "--stale-after takes hours"},
        {status + QStringList{""}, "--stale-after takes hours"},
        {collect + QStringList{"--retries", "nan"}, "--retries takes a number from 0 to 100"},
        {collect + QStringList{"--retries", "-1"}, "--retries takes a number from 0 to 100"},
        {collect + QStringList{"--retry-pause", "inf"}, "--retry-pause takes seconds from 0 to 3600"},
        {collect + QStringList{"--retry-pause", "-5"}, "--retry-pause takes seconds from 0 to 3600"},
        {exportCsv + QStringList{"nan"}, "--channel takes a channel number from 1 to 8"},
        {exportCsv + QStringList{"-1"}, "--channel takes a channel number from 1 to 8"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(c.arguments.join(' ')));
        const CliRun run = runCli(c.arguments, dir.path(), 30000);
        EXPECT_EQ(run.exitCode, 64);
        EXPECT_TRUE(run.errors.contains(c.reason)) << qPrintable(run.errors);
    }
    // The same option with a number in range is taken: the one station has never been collected.
    EXPECT_EQ(runCli(status + QStringList{"0.5"}, dir.path()).exitCode, 1);
}

// A meter whose label holds a line break, a tab, a control byte, a backslash at its end, quotes
// and an equals sign, at a station whose name has a backslash, quotes, a comma, a space and an
// equals sign: the store keeps the label without its control characters, and every export of it
// parses line by line, giving back the label as stored and the station's name.
TEST(ExportE2e, labelsAndNamesThatBreakLinesComeOutEscapedInEveryFormat)
{
    QTemporaryDir dir;
    const QString label = QStringLiteral("F\nl\to\u0001w\\ \"GPM\"=1\\");
    const QString stored = QStringLiteral("F\ufffdl\ufffdo\ufffdw\\ \"GPM\"=1\\");
    const QString station = QStringLiteral("north\\ \"pump\", no=1");
    MeterSimProcess meter;
    ASSERT_TRUE(meter.start(dir.path(), {"--records", "3", "--labels", label + ",Level"}));
    const QString stations = dir.filePath("stations.ini");
    writeFileBytes(stations, "[store]\nurl = sqlite:store.db\n\n[" + station.toUtf8() + "]\nport = "
                                 + meter.linkPath().toUtf8() + "\noutput = north.csv\n");
    const CliRun collected = runCli({"collect", "--stations", stations});
    ASSERT_EQ(collected.exitCode, 0) << qPrintable(collected.lines.join('\n') + collected.errors);
    QString error;
    const auto store = ostrand::collect::openStoreReader("sqlite:store.db", dir.path(), &error);
    ASSERT_TRUE(store) << qPrintable(error);
    const auto held = store->readings({station, 1, {}, {}}, &error);
    ASSERT_TRUE(held && !held->empty()) << qPrintable(error);
    EXPECT_EQ(held->front().label, stored);

    const QStringList exportArguments{"export", "--store", "sqlite:" + dir.filePath("store.db"), "--station", station, "--format"};
    const QString influx = dir.filePath("export.influx");
    ASSERT_EQ(runCli(exportArguments + QStringList{"influx", "--output", influx}).exitCode, 0);
    const QList<QByteArray> lines = readFileBytes(influx).split('\n');
    ASSERT_EQ(lines.size(), 7); // three instants of two channels, and the last line's end
    for (const QByteArray &line : lines.mid(0, 6)) {
        const std::optional<LinePoint> point = readLinePoint(line);
        ASSERT_TRUE(point) << line.toStdString();
        EXPECT_EQ(point->tags.at("station"), station.toUtf8());
        EXPECT_EQ(point->tags.at("label"), (point->tags.at("channel") == "1" ? stored : QStringLiteral("Level")).toUtf8());
    }
    const QString iso = dir.filePath("export.iso.csv");
    ASSERT_EQ(runCli(exportArguments + QStringList{"iso-csv", "--output", iso}).exitCode, 0);
    const auto records = readCsvRecords(readFileBytes(iso));
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 5);
    EXPECT_EQ((*records)[0], (QList<QByteArray>{"Time (UTC)", "Offset", stored.toUtf8(), "Level"}));
    const QString csv = dir.filePath("export.csv");
    ASSERT_EQ(runCli(exportArguments + QStringList{"csv", "--output", csv}).exitCode, 0);
    const auto rows = readCsvRecords(readFileBytes(csv));
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 4);
    EXPECT_EQ((*rows)[0], (QList<QByteArray>{"Date / Time", stored.toLatin1(), "Level"}));
}
