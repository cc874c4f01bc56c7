#include "cli_run.h"
#include "collect/collection_lock.h"
#include "metersim_process.h"
#include "qt_printers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace ostrand::testing;

// Every rule of the reader has its own table; here, that a mistake stops the command with 64.
TEST(Collect, aStationsFileWithAMistakeIsRefusedNamingItsLineAndKey)
{
    QTemporaryDir dir;
    const QString stations = dir.filePath("s.ini");
    writeFileBytes(stations, "[a]\nport = COM1\noutput = a.csv\ncolour = red\n");
    const CliRun run = runCli({"collect", "--stations", stations});
    EXPECT_EQ(run.exitCode, 64);
    EXPECT_TRUE(run.errors.contains(stations + ":4: key 'colour'")) << qPrintable(run.errors);
}

// A meter that refuses the confirmation (so it sends its whole log every time), one behind a
// modem, one still logging and a silent one, each on its own port.
TEST(Collect, aFleetCollectedAcrossAKilledRunAndTwoMoreHoldsEveryLoggedRowOnce)
{
    QTemporaryDir dir;
    const QString stations = dir.filePath("stations.ini"), out = dir.filePath("out/");
    const char *names[] = {"plain", "modem", "growing", "silent"};
    const QStringList extra[] = {{"--baud", "9600", "--refuse-function", "0x62:1"}, {"--modem"}, {"--log-every-seconds", "1"}, {"--silent"}};
    MeterSimProcess sims[4];
    QByteArray ini;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(sims[i].start(dir.path(), QStringList{"--start", "2024-01-01 00:15", "--records", "40"} + extra[i], names[i]));
        ini += QString("[%1]\nport = %1\noutput = out/%1.csv\n%2").arg(names[i], i == 1 ? "dial = 555\n" : "").toUtf8();
    }
    writeFileBytes(stations, ini);
    QDir(dir.path()).mkdir("out");
    const QByteArray oldHeadings = "Date / Time,Old\r\n1/1/2000 1:00:00 AM,5\r\n";
    writeFileBytes(out + "growing.csv", oldHeadings);
    writeFileBytes(out + "silent.csv", "Date / Time,Flow\r\n");
    {
        const ostrand::collect::CollectionLock earlierRun(stations);
        ASSERT_EQ(earlierRun.state(), ostrand::collect::CollectionLock::State::Held) << qPrintable(earlierRun.error());
        EXPECT_EQ(runCli({"collect", "--stations", stations}).exitCode, 0);
        EXPECT_EQ(readFileBytes(out + "growing.csv"), oldHeadings);
    }
    QProcess killed;
    killed.start(OSTRAND_CLI, {"collect", "--stations", stations});
    ASSERT_FALSE(killed.waitForFinished(1500));
    killed.kill(); // SIGKILL
    killed.waitForFinished();
    sims[0].waitFor("ready", 2, 2000); // the simulator takes a fresh line when one is dropped mid-reply
    runCli({"hangup", "--port", sims[1].linkPath()}); // as a modem does when the port closes (DTR)
    QList<QByteArray> leftByKill;
    for (const char *name : {"plain", "modem", "growing"})
        leftByKill << readFileBytes(out + name + ".csv");

    const CliRun first = runCli({"collect", "--stations", stations, "--retries", "1", "--retry-pause", "1", "--report", out + "r.json"});
    EXPECT_EQ(first.exitCode, 6) << qPrintable(first.errors);
    for (const QJsonValue &value : QJsonDocument::fromJson(readFileBytes(out + "r.json"))["stations"].toArray()) {
        const QJsonObject station = value.toObject();
        const bool silent = station["name"].toString() == "silent";
        EXPECT_EQ(station["result"].toString(), silent ? "failed" : "ok");
        EXPECT_EQ(station["attempts"].toInt(), silent ? 2 : 1) << qPrintable(station["name"].toString());
        EXPECT_EQ(station["errors"].toArray().size(), silent ? 2 : station["name"].toString() == "plain");
        // A port given by its device is named by it, never as a COM port it is not.
        EXPECT_TRUE(!silent || station["errors"][0].toString().contains("No answer from address 1 on /dev/"))
            << qPrintable(station["errors"][0].toString());
    }
    const CliRun second = runCli({"collect", "--stations", stations, "--only", "plain,modem", "--only", "growing"});
    EXPECT_EQ(second.exitCode, 0) << qPrintable(second.errors);
    EXPECT_EQ(second.lines.filter("plain: ok, 0 new rows, ").size(), 1) << qPrintable(second.lines.join('\n'));

    const QString full = dir.filePath("full.csv");
    ASSERT_EQ(runCli({"download", "--port", sims[2].linkPath(), "--output", full}).exitCode, 0);
    const QByteArray log = readFileBytes(full);
    EXPECT_EQ(readFileBytes(out + "plain.csv").count('\n'), 41);
    EXPECT_EQ(readFileBytes(out + "modem.csv"), readFileBytes(out + "plain.csv"));
    EXPECT_GT(readFileBytes(out + "growing.csv").size(), readFileBytes(out + "plain.csv").size());
    for (const QByteArray &file : leftByKill + QList{readFileBytes(out + "plain.csv"), readFileBytes(out + "growing.csv")})
        EXPECT_TRUE(log.startsWith(file) && (file.isEmpty() || file.endsWith("\r\n"))) << file.constData();
    const QStringList archived = QDir(out).entryList({"growing-*.csv"});
    ASSERT_EQ(archived.size(), 1);
    EXPECT_EQ(readFileBytes(out + archived.first()), oldHeadings);
}

// A dialled station's slow line: the meter answers 900 ms late, past the 0.5 s after which a
// log block is asked again on the meters' own timings. The station's reply time covers it.
TEST(Collect, aStationsReplyTimeLetsASlowMeterAnswerEveryRequestOnce)
{
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start({"--delay-ms", "900", "--records", "3", "--channels", "1"}));
    QTemporaryDir dir;
    const QString stations = dir.filePath("s.ini");
    writeFileBytes(stations, QString("[slow]\nport = %1\nreply-timeout = 1500\noutput = slow.csv\n").arg(sim.linkPath()).toUtf8());
    const CliRun run = runCli({"collect", "--stations", stations, "--retries", "0"}, {}, 60000);
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.errors);
    EXPECT_EQ(readFileBytes(dir.filePath("slow.csv")).count('\n'), 4);
    // Requests (<-) and replies (->) alternate: no request went out again while its answer was due.
    QString turns;
    for (const QString &line : sim.trace()) {
        if (line.contains("] <- ") || line.contains("] -> "))
            turns += line.contains("] <- ") ? u'<' : u'>';
    }
    EXPECT_GE(turns.size(), 8);
    EXPECT_EQ(turns, QString("<>").repeated(turns.size() / 2));
    // The default for stations without their own is held to the same bounds.
    EXPECT_EQ(runCli({"collect", "--stations", stations, "--reply-timeout", "60001"}).exitCode, 64);
}
