// ostrand-cli collect, status and export against simulated meters, in real time.
#include "collect_scene.h"
#include "collect/collection_lock.h"
#include "export_readers.h"
#include "store/store_open.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>
#include <algorithm>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace ostrand::collect;
using namespace ostrand::testing;

namespace {

QByteArray native(const QString &path) { return QFile::encodeName(path); }

const QByteArray kOldFile = "Date / Time,Old\r\n1/1/2000 1:00:00 AM,5\r\n";

// Every run of this binary keeps its lock in a runtime folder of its own.
struct PrivateRuntime : ::testing::Environment {
    void SetUp() override { qputenv("XDG_RUNTIME_DIR", dir.emplace().path().toUtf8()); }
    std::optional<QTemporaryDir> dir;
};
PrivateRuntime *const runtime = static_cast<PrivateRuntime *>(::testing::AddGlobalTestEnvironment(new PrivateRuntime));

// The data rows of a CSV file, its heading line left out.
QList<QByteArray> rowsOf(const QByteArray &csv)
{
    QList<QByteArray> rows = csv.split('\n');
    rows.removeFirst();
    rows.removeAll(QByteArray());
    return rows;
}

// The new rows a collect run reported for station a, -1 when it did not say "ok".
int newRowsReported(const CliRun &run)
{
    const QStringList ok = run.lines.filter(QRegularExpression("^a: ok, "));
    return ok.isEmpty() ? -1 : ok.first().section(' ', 2, 2).toInt();
}

} // namespace

// A meter that refuses the confirmation (so it sends its whole log every time), one behind a
// modem and a silent one, each on its own port (a meter still logging is ContinuousUse's, a file
// of other rows archived CollectFiles').
TEST(Collect, aFleetCollectedAcrossAKilledRunAndTwoMoreHoldsEveryLoggedRowOnce)
{
    QTemporaryDir dir;
    const QString stations = dir.filePath("stations.ini"), out = dir.filePath("out/");
    const char *names[] = {"plain", "modem", "silent"};
    const QStringList extra[] = {{"--baud", "9600", "--refuse-function", "0x62:1"}, {"--modem"}, {"--silent"}};
    MeterSimProcess sims[3];
    QByteArray ini;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sims[i].start(dir.path(), QStringList{"--start", "2024-01-01 00:15", "--records", "40"} + extra[i], names[i]));
        ini += QString("[%1]\nport = %1\noutput = out/%1.csv\n%2").arg(names[i], i == 1 ? "dial = 555\n" : "").toUtf8();
    }
    writeFileBytes(stations, ini);
    QDir(dir.path()).mkdir("out");
    QProcess killed;
    killed.start(OSTRAND_CLI, {"collect", "--stations", stations});
    ASSERT_FALSE(killed.waitForFinished(1500));
    killed.kill(); // SIGKILL
    killed.waitForFinished();
    sims[0].waitFor("ready", 2, 2000); // the simulator takes a fresh line when one is dropped mid-reply
    runCli({"hangup", "--port", sims[1].linkPath()}); // as a modem does when the port closes (DTR)
    QList<QByteArray> leftByKill;
    for (const char *name : {"plain", "modem"})
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
    const CliRun second = runCli({"collect", "--stations", stations, "--only", "plain", "--only", "modem"});
    EXPECT_EQ(second.exitCode, 0) << qPrintable(second.errors);
    EXPECT_EQ(second.lines.filter("plain: ok, 0 new rows, ").size(), 1) << qPrintable(second.lines.join('\n'));

    const QString full = dir.filePath("full.csv");
    ASSERT_EQ(runCli({"download", "--port", sims[0].linkPath(), "--output", full}).exitCode, 0);
    const QByteArray log = readFileBytes(full);
    EXPECT_EQ(readFileBytes(out + "plain.csv").count('\n'), 41);
    EXPECT_EQ(readFileBytes(out + "modem.csv"), readFileBytes(out + "plain.csv"));
    for (const QByteArray &file : leftByKill + QList{readFileBytes(out + "plain.csv")})
        EXPECT_TRUE(log.startsWith(file) && (file.isEmpty() || file.endsWith("\r\n"))) << file.constData();
}

// The meter answers 900 ms late, past the 0.5 s after which a log block is asked again by default.
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
    for (const QString &line : sim.trace().filter(QRegularExpression("\\] (<-|->) ")))
        turns += line.contains("] <- ") ? u'<' : u'>';
    EXPECT_GE(turns.size(), 8);
    EXPECT_EQ(turns, QString("<>").repeated(turns.size() / 2));
}

class CollectFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid() && sim.start({"--start", "2024-01-01 00:15", "--records", "40"})); }
    // One station per (name, output), all on the simulator's port.
    void writeStations(const QList<std::pair<QString, QString>> &stations)
    {
        QByteArray text;
        for (const auto &[name, output] : stations)
            text += QString("[%1]\nport = %2\noutput = %3\n").arg(name, sim.linkPath(), output).toUtf8();
        writeFileBytes(stationsPath, text);
    }
    CliRun collect(const QStringList &extra = {})
    {
        return runCli(QStringList{"collect", "--stations", stationsPath, "--retry-pause", "1"} + extra, {}, 30000);
    }
    int requests() { return sim.trace().filter("quiet before it").size(); }

    QTemporaryDir dir;
    MeterSimProcess sim;
    QString stationsPath = dir.filePath("stations.ini"), reportPath = dir.filePath("report.json");
};

TEST_F(CollectFiles, namesThatLeadToOneFileAreRefusedBeforeAnyMeterIsAsked)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("data"));
    ASSERT_TRUE(QFile::link(dir.filePath("data"), dir.filePath("alias")));
    writeFileBytes(dir.filePath("data/x.csv"), kOldFile);
    ASSERT_EQ(::link(native(dir.filePath("data/x.csv")), native(dir.filePath("data/hard.csv"))), 0);
    ASSERT_TRUE(QFile::link(stationsPath, dir.filePath("data/stations-link.ini")));
    const struct { const char *what; QList<std::pair<QString, QString>> stations; QString report; int exitCode; QStringList named; } cases[] = {
        {"a linked folder", {{"a", "data/x.csv"}, {"b", "alias/x.csv"}}, {}, 64, {"'a'", "'b'", "data/x.csv", "alias/x.csv"}},
        {"a new file through a linked folder", {{"a", "data/new.csv"}, {"b", "alias/new.csv"}}, {}, 64, {"'a'", "'b'", "data/new.csv", "alias/new.csv"}},
        {"a hard link", {{"a", "data/x.csv"}, {"b", "data/hard.csv"}}, {}, 64, {"'a'", "'b'", "x.csv", "hard.csv"}},
        {"the stations file itself", {{"a", "data/stations-link.ini"}}, {}, 64, {"'a'", "stations-link.ini", stationsPath}},
        {"a report over an output", {{"a", "data/x.csv"}}, dir.filePath("alias/x.csv"), 3, {"'a'", "alias/x.csv", "data/x.csv"}},
        {"a report over the stations file", {{"a", "data/x.csv"}}, dir.filePath("data/stations-link.ini"), 3, {"stations-link.ini", stationsPath}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        writeStations(c.stations);
        const QByteArray stations = readFileBytes(stationsPath);
        const CliRun run = collect(c.report.isEmpty() ? QStringList() : QStringList{"--report", c.report});
        EXPECT_EQ(run.exitCode, c.exitCode) << qPrintable(run.errors);
        for (const QString &name : c.named)
            EXPECT_TRUE(run.errors.contains(name)) << qPrintable(name) << " in " << qPrintable(run.errors);
        EXPECT_EQ(readFileBytes(dir.filePath("data/x.csv")), kOldFile);
        EXPECT_EQ(readFileBytes(stationsPath), stations);
        EXPECT_FALSE(QFile::exists(dir.filePath("data/new.csv")));
    }
    EXPECT_EQ(requests(), 0);
}

// Each refused naming the file at the first attempt, before the meter is asked; its target left as it was.
TEST_F(CollectFiles, outputsThatAreNotPlainFilesOfTheUsersOwnFailTheStationUntouched)
{
    const QString target = dir.filePath("target.csv"), shared = dir.filePath("shared");
    writeFileBytes(target, kOldFile);
    ASSERT_TRUE(QFile::link(target, dir.filePath("link.csv")));
    ASSERT_TRUE(QFile::link(dir.filePath("made-by-root.csv"), dir.filePath("dangling.csv")));
    ASSERT_EQ(::mkfifo(native(dir.filePath("pipe.csv")), 0600), 0);
    const bool haveDevice = ::mknod(native(dir.filePath("zero.csv")), S_IFCHR | 0666, makedev(1, 5)) == 0;
    ASSERT_TRUE(QDir(dir.path()).mkdir("shared"));
    ASSERT_EQ(::chmod(native(shared), 0777), 0);
    const bool otherOwner = ::chown(native(shared), 65534, 65534) == 0; // only root can give it away
    ASSERT_TRUE(QDir(dir.path()).mkdir("sticky") && ::chmod(native(dir.filePath("sticky")), 01777) == 0); // ours, like root's /tmp
    writeFileBytes(dir.filePath("huge.csv"), {});
    ASSERT_TRUE(QFile::resize(dir.filePath("huge.csv"), (qint64(1) << 30) + 1)); // sparse: it takes no room
    const struct { QString output; const char *reason; bool applies; } cases[] = {
        {"pipe.csv", "is a pipe", true},
        {"zero.csv", "is a device", haveDevice},
        {"link.csv", "is a symbolic link", true},
        {"dangling.csv", "is a symbolic link", true},
        {"shared/x.csv", "a folder any user may write", otherOwner},
        {"sticky/x.csv", "a folder any user may write", true},
        {"huge.csv", "more than a station's file may (1 GiB)", true},
    };
    for (const auto &c : cases) {
        if (!c.applies)
            continue;
        writeStations({{"s", c.output}});
        const CliRun run = collect({"--report", reportPath});
        EXPECT_EQ(run.exitCode, 6) << qPrintable(c.output) << ": " << qPrintable(run.errors);
        EXPECT_EQ(stationReport(reportPath)["attempts"].toInt(), 1) << qPrintable(c.output);
        const QString error = stationReport(reportPath)["errors"][0].toString();
        EXPECT_TRUE(error.contains(dir.filePath(c.output)) && error.contains(c.reason)) << qPrintable(error);
    }
    EXPECT_EQ(requests(), 0);
    EXPECT_EQ(readFileBytes(target), kOldFile);
    EXPECT_EQ(QDir(dir.path()).entryList({"target-*", "link-*", "pipe-*"}), QStringList());
    EXPECT_FALSE(QFile::exists(dir.filePath("made-by-root.csv")));
}

// Archive names of the seconds the run may take are there, one a link: the old rows get a name of their own.
TEST_F(CollectFiles, anArchiveNeverReplacesAFileOfTheSameSecond)
{
    const QString output = dir.filePath("s.csv"), elsewhere = dir.filePath("elsewhere.txt");
    writeFileBytes(output, kOldFile);
    ASSERT_EQ(::chmod(native(output), 0640), 0);
    writeFileBytes(elsewhere, "not to be touched\n");
    const QDateTime now = QDateTime::currentDateTime();
    QStringList planted;
    for (int s = -1; s <= 60; ++s) {
        planted << QString("s-%1.csv").arg(now.addSecs(s).toString("yyyyMMdd-HHmmss"));
        if (s == 0)
            ASSERT_TRUE(QFile::link(elsewhere, dir.filePath(planted.last())));
        else
            writeFileBytes(dir.filePath(planted.last()), "earlier archive\r\n");
    }
    writeStations({{"s", "s.csv"}});
    const CliRun run = collect();
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.errors);
    QStringList archives = QDir(dir.path()).entryList({"s-*.csv"});
    for (const QString &name : planted)
        archives.removeOne(name);
    ASSERT_EQ(archives.size(), 1);
    EXPECT_TRUE(archives.first().endsWith("-2.csv")) << qPrintable(archives.first());
    EXPECT_EQ(readFileBytes(dir.filePath(archives.first())), kOldFile);
    EXPECT_EQ(QFileInfo(dir.filePath(archives.first())).permissions(), QFileInfo(output).permissions());
    EXPECT_EQ(readFileBytes(elsewhere), "not to be touched\n");
    for (const QString &name : planted.mid(2))
        EXPECT_EQ(readFileBytes(dir.filePath(name)), "earlier archive\r\n") << qPrintable(name);
}

TEST_F(CollectFiles, aLockHeldElsewhereSkipsTheStationWithAReportButPlantedOrOpenOnesDoNot)
{
    writeStations({{"s", "s.csv"}});
    {
        // Another open of the station's lock file, as another process (a listener, say) holds it.
        const CollectionLock other(stationsPath, "s");
        ASSERT_EQ(other.state(), CollectionLock::State::Held) << qPrintable(other.error());
        EXPECT_EQ(CollectionLock(stationsPath, "t").state(), CollectionLock::State::Held);
        const CliRun run = collect({"--report", reportPath});
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.errors);
        EXPECT_TRUE(run.lines.value(0).startsWith("s: skipped")) << qPrintable(run.lines.join('\n'));
        EXPECT_EQ(stationReport(reportPath)["result"].toString(), "skipped");
        EXPECT_EQ(stationReport(reportPath)["reason"].toString(), "another collection holds the lock");
        EXPECT_FALSE(QFile::exists(dir.filePath("s.csv")));
        EXPECT_EQ(requests(), 0);
    }
    // Where anyone could make the lock: beside the stations file, and the temporary folder.
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    const QString hash = QCryptographicHash::hash(QFileInfo(stationsPath).absoluteFilePath().toUtf8(),
                                                  QCryptographicHash::Sha1).toHex();
    QLockFile beside(stationsPath + ".lock"), inTemp(temp.filePath("ostrand-collect-" + hash + ".lock"));
    ASSERT_TRUE(beside.tryLock(0) && inTemp.tryLock(0));
    const CliRun run = collect({"--report", reportPath});
    qunsetenv("TMPDIR");
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.errors);
    EXPECT_EQ(stationReport(reportPath)["result"].toString(), "ok");
    EXPECT_EQ(readFileBytes(dir.filePath("s.csv")).count('\n'), 41);
    // A lock folder others may write is no lock at all.
    const QString folder = runtime->dir->filePath("ostrand");
    ASSERT_EQ(::chmod(native(folder), 0777), 0);
    const CliRun open = collect();
    ::chmod(native(folder), 0700);
    EXPECT_EQ(open.exitCode, 3);
    EXPECT_TRUE(open.errors.contains(folder) && open.errors.contains("chmod 700")) << qPrintable(open.errors);
}

// A runtime folder of another user's (sudo keeps the variable) is passed over for the state folder.
TEST_F(CollectFiles, theLockGoesToTheServicesFolderElseTheUsersOwn)
{
    writeFileBytes(stationsPath, {});
    QTemporaryDir service, state, others;
    qputenv("RUNTIME_DIRECTORY", service.path().toUtf8());
    const QString inService = CollectionLock(stationsPath, "s").path();
    qunsetenv("RUNTIME_DIRECTORY");
    EXPECT_TRUE(inService.startsWith(service.path() + "/collect-")) << qPrintable(inService);
    if (::chown(native(others.path()), 65534, 65534) != 0)
        GTEST_SKIP() << "only root can give a folder away";
    qputenv("XDG_RUNTIME_DIR", others.path().toUtf8());
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    const QString inState = CollectionLock(stationsPath, "s").path();
    qputenv("XDG_RUNTIME_DIR", runtime->dir->path().toUtf8());
    qunsetenv("XDG_STATE_HOME");
    EXPECT_TRUE(inState.startsWith(state.filePath("ostrand/collect-"))) << qPrintable(inState);
}

TEST(ContinuousUse, aMeterLoggingWhileItIsReadLosesNothingToCollectAndAnotherMeterOnItsLinkIsNeverTold)
{
    QTemporaryDir dir;
    MeterSimProcess collected;
    ASSERT_TRUE(collected.start(dir.path(), {"--records", "60", "--channels", "3", "--baud", "4800", "--log-every-seconds",
                                             "1", "--start", "2026-11-01 00:15"}, "M1"));
    const QString stations = dir.filePath("stations.ini"), out = dir.filePath("a.csv");
    writeFileBytes(stations, QString("[a]\nport = %1\noutput = a.csv\n").arg(collected.linkPath()).toUtf8());
    // Each run reads what was logged while it ran, too: more than the 60 instants the first time.
    const CliRun first = runCli({"collect", "--stations", stations});
    EXPECT_GT(newRowsReported(first), 60) << qPrintable(first.errors);
    // A second meter takes over the link during the third run: the run stays with the meter it began on.
    const QString firstMeter = QFileInfo(collected.linkPath()).canonicalFilePath();
    QThread::msleep(1500);
    EXPECT_GT(newRowsReported(runCli({"collect", "--stations", stations})), 0);
    QProcess third;
    third.start(OSTRAND_CLI, {"collect", "--stations", stations});
    MeterSimProcess intruder;
    QThread::msleep(1500);
    ASSERT_TRUE(intruder.start(dir.path(), {"--records", "60", "--channels", "3", "--start", "2025-01-01 00:15"}, "M1"));
    const CliRun thirdRun = finished(third, 60000);
    EXPECT_EQ(thirdRun.exitCode, 0) << qPrintable(thirdRun.errors);
    EXPECT_EQ(intruder.confirmations(), 0);
    const QString whole = dir.filePath("whole.csv");
    ASSERT_EQ(runCli({"download", "--port", firstMeter, "--output", whole}).exitCode, 0);
    const QByteArray log = readFileBytes(whole), file = readFileBytes(out);
    // Every instant once, in the meter's order, none missing up to the last collected.
    EXPECT_TRUE(log.startsWith(file)) << file.right(300).constData() << "\n---\n" << log.constData();
    EXPECT_GT(rowsOf(file).size(), 60 + 5);
}

TEST(ContinuousUse, everyReadingIsKeptWhateverItsStampAndTheFirstRunOntoAnOlderFileAddsOnlyWhatItLacks)
{
    // The autumn clock change: 01:00 to 01:45 twice, with other readings.
    const QByteArray autumn = logFile("2026-10-25 00:15", 7, 10) + logFile("2026-10-25 01:00", 4, 50)
                              + logFile("2026-10-25 02:00", 8, 60);
    const struct {
        const char *what;
        QByteArray log, laterLog; // laterLog: the meter as found by the second run (reset, clock set back)
        int keptFromTruth;        // the output holds this many rows of the first log before the first run (-1: none)
        int newRows, laterNewRows;
        const char *warning;
    } cases[] = {
        {"a clock hour that repeats", autumn, {}, -1, 19, 0, nullptr},
        {"a meter reset with its clock set back", logFile("2026-06-01 00:15", 20, 1), logFile("2026-01-01 00:15", 20, 500),
         -1, 20, 20, "another record stands where the last record collected was"},
        {"a file from before the cursor, ending mid-log", logFile("2026-06-01 00:15", 20, 1), {}, 12, 8, 0, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        writeFileBytes(dir.filePath("log.txt"), c.log);
        auto sim = std::make_unique<MeterSimProcess>();
        ASSERT_TRUE(sim->start(dir.path(), {"--log-file", dir.filePath("log.txt")}, "M1"));
        const QString truth = dir.filePath("truth.csv"), out = dir.filePath("a.csv"), stations = dir.filePath("s.ini");
        ASSERT_EQ(runCli({"download", "--port", sim->linkPath(), "--output", truth}).exitCode, 0);
        if (c.keptFromTruth >= 0)
            writeFileBytes(out, readFileBytes(truth).split('\n').mid(0, 1 + c.keptFromTruth).join('\n') + '\n');
        writeFileBytes(stations, QString("[a]\nport = %1\noutput = a.csv\n").arg(sim->linkPath()).toUtf8());
        const CliRun run = runCli({"collect", "--stations", stations});
        EXPECT_EQ(newRowsReported(run), c.newRows) << qPrintable(run.errors);
        EXPECT_EQ(readFileBytes(out), readFileBytes(truth));
        if (c.laterLog.isEmpty())
            continue;
        writeFileBytes(dir.filePath("later.txt"), c.laterLog);
        sim.reset();
        sim = std::make_unique<MeterSimProcess>();
        ASSERT_TRUE(sim->start(dir.path(), {"--log-file", dir.filePath("later.txt")}, "M1"));
        const CliRun later = runCli({"collect", "--stations", stations});
        EXPECT_EQ(newRowsReported(later), c.laterNewRows) << qPrintable(later.errors);
        EXPECT_TRUE(later.errors.contains(c.warning)) << qPrintable(later.errors);
        ASSERT_EQ(runCli({"download", "--port", sim->linkPath(), "--output", truth}).exitCode, 0);
        EXPECT_EQ(rowsOf(readFileBytes(out)).mid(c.newRows), rowsOf(readFileBytes(truth)));
        EXPECT_TRUE(sim->waitFor("confirmed", 2, 2000)) << "the download and the collection each confirm";
    }
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
    for (const auto &[format, suffix] : {std::pair{"csv", ".csv"}, {"iso-csv", ".iso.csv"}, {"influx", ".influx"}}) {
        SCOPED_TRACE(format);
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

// Bad usage with the option's rule, before anything is read ("nan" fails every comparison).
TEST(NumericOptionsE2e, notANumberInfinityAndNegativesAreRefusedAsBadUsage)
{
    QTemporaryDir dir;
    const QString stations = dir.filePath("stations.ini");
    writeFileBytes(stations, "[a]\nport = /dev/null\noutput = a.csv\n");
    const QStringList status{"status", "--stations", stations, "--stale-after"};
    const QStringList collect{"collect", "--stations", stations};
    const QStringList exportCsv{"export", "--store", "sqlite:" + dir.filePath("none.db"), "--station", "a",
                                "--format", "csv", "--channel"};
    std::vector<std::pair<QStringList, QString>> cases{
        {status + QStringList{"nan"}, "--stale-after takes hours, more than 0 and at most 8784, not 'nan'"},
        {collect + QStringList{"--retries", "nan"}, "--retries takes a number from 0 to 100"},
        {collect + QStringList{"--retries", "-1"}, "--retries takes a number from 0 to 100"},
        {collect + QStringList{"--retry-pause", "inf"}, "--retry-pause takes seconds from 0 to 3600"},
        {collect + QStringList{"--retry-pause", "-5"}, "--retry-pause takes seconds from 0 to 3600"},
        {exportCsv + QStringList{"nan"}, "--channel takes a channel number from 1 to 8"},
        {exportCsv + QStringList{"-1"}, "--channel takes a channel number from 1 to 8"},
        // The default reply time for stations without their own is held to a station's bounds.
        {collect + QStringList{"--reply-timeout", "60001"}, "--reply-timeout"},
    };
    for (const char *hours : {"NaN", "-nan", "inf", "-inf", "1e999", "-1", "0", ""})
        cases.push_back({status + QStringList{hours}, "--stale-after takes hours"});
    for (const auto &[arguments, reason] : cases) {
        SCOPED_TRACE(qPrintable(arguments.join(' ')));
        const CliRun run = runCli(arguments, dir.path(), 30000);
        EXPECT_EQ(run.exitCode, 64);
        EXPECT_TRUE(run.errors.contains(reason)) << qPrintable(run.errors);
    }
    // The same option with a number in range is taken: the one station has never been collected.
    EXPECT_EQ(runCli(status + QStringList{"0.5"}, dir.path()).exitCode, 1);
}

// The store keeps the label without its control characters; the influx export parses line by line,
// giving back the label as stored and the station's name (the CSV writers' rows are HostileLabels').
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
}
