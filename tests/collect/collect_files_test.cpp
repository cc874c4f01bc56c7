// The files a collection writes: names that lead to one file, outputs that are
// not plain files of the user's own, archives of one second and the run's lock.
#include "cli_run.h"
#include "collect/collection_lock.h"
#include "metersim_process.h"
#include "qt_printers.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace ostrand::testing;

namespace {

QByteArray native(const QString &path) { return QFile::encodeName(path); }

const QByteArray kOldFile = "Date / Time,Old\r\n1/1/2000 1:00:00 AM,5\r\n";

// Every run of this binary, the fleet test's too, keeps its lock in a runtime folder of its own.
struct PrivateRuntime : ::testing::Environment {
    void SetUp() override { qputenv("XDG_RUNTIME_DIR", dir.emplace().path().toUtf8()); }
    std::optional<QTemporaryDir> dir;
};
PrivateRuntime *const runtime = static_cast<PrivateRuntime *>(::testing::AddGlobalTestEnvironment(new PrivateRuntime));

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
    QJsonObject reported() const { return QJsonDocument::fromJson(readFileBytes(reportPath))["stations"][0].toObject(); }
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
        writeStations(c.stations);
        const QByteArray stations = readFileBytes(stationsPath);
        const CliRun run = collect(c.report.isEmpty() ? QStringList() : QStringList{"--report", c.report});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << qPrintable(run.errors);
        for (const QString &name : c.named)
            EXPECT_TRUE(run.errors.contains(name)) << c.what << ": " << qPrintable(name) << " in " << qPrintable(run.errors);
        EXPECT_EQ(readFileBytes(dir.filePath("data/x.csv")), kOldFile) << c.what;
        EXPECT_EQ(readFileBytes(stationsPath), stations) << c.what;
        EXPECT_FALSE(QFile::exists(dir.filePath("data/new.csv"))) << c.what;
    }
    EXPECT_EQ(requests(), 0);
}

// Each refused with the reason naming the file, at the first attempt, before the meter is asked;
// what the name leads to is left as it was.
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
        const QJsonObject station = reported();
        EXPECT_EQ(station["attempts"].toInt(), 1) << qPrintable(c.output);
        const QString error = station["errors"][0].toString();
        EXPECT_TRUE(error.contains(dir.filePath(c.output)) && error.contains(c.reason)) << qPrintable(error);
    }
    EXPECT_EQ(requests(), 0);
    EXPECT_EQ(readFileBytes(target), kOldFile);
    EXPECT_EQ(QDir(dir.path()).entryList({"target-*", "link-*", "pipe-*"}), QStringList());
    EXPECT_FALSE(QFile::exists(dir.filePath("made-by-root.csv")));
}

// Names of the seconds the run may take are already there, one of them a link to a file
// elsewhere: the old rows go to a name of their own, with the old file's permissions.
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

TEST_F(CollectFiles, aLockHeldElsewhereSkipsTheRunWithAReportButPlantedOrOpenOnesDoNot)
{
    writeStations({{"s", "s.csv"}});
    {
        // Another open of the same lock file, as another process holds it.
        const ostrand::collect::CollectionLock other(stationsPath);
        ASSERT_EQ(other.state(), ostrand::collect::CollectionLock::State::Held) << qPrintable(other.error());
        const CliRun run = collect({"--report", reportPath});
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.errors);
        EXPECT_TRUE(run.lines.value(0).startsWith("another collection from " + stationsPath + " is running"));
        EXPECT_EQ(reported()["result"].toString(), "skipped");
        EXPECT_EQ(reported()["reason"].toString(), "another collection holds the lock");
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
    EXPECT_EQ(reported()["result"].toString(), "ok");
    EXPECT_EQ(readFileBytes(dir.filePath("s.csv")).count('\n'), 41);
    // A lock folder others may write is no lock at all.
    const QString folder = runtime->dir->filePath("ostrand");
    ASSERT_EQ(::chmod(native(folder), 0777), 0);
    const CliRun open = collect();
    ::chmod(native(folder), 0700);
    EXPECT_EQ(open.exitCode, 3);
    EXPECT_TRUE(open.errors.contains(folder) && open.errors.contains("chmod 700")) << qPrintable(open.errors);
}

// The service's runtime folder first; a runtime folder of another user's (sudo keeps the
// variable) is passed over for the state folder.
TEST_F(CollectFiles, theLockGoesToTheServicesFolderElseTheUsersOwn)
{
    writeFileBytes(stationsPath, {});
    QTemporaryDir service, state, others;
    qputenv("RUNTIME_DIRECTORY", service.path().toUtf8());
    const QString inService = ostrand::collect::CollectionLock(stationsPath).path();
    qunsetenv("RUNTIME_DIRECTORY");
    EXPECT_TRUE(inService.startsWith(service.path() + "/collect-")) << qPrintable(inService);
    if (::chown(native(others.path()), 65534, 65534) != 0)
        GTEST_SKIP() << "only root can give a folder away";
    qputenv("XDG_RUNTIME_DIR", others.path().toUtf8());
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    const QString inState = ostrand::collect::CollectionLock(stationsPath).path();
    qputenv("XDG_RUNTIME_DIR", runtime->dir->path().toUtf8());
    qunsetenv("XDG_STATE_HOME");
    EXPECT_TRUE(inState.startsWith(state.filePath("ostrand/collect-"))) << qPrintable(inState);
}

} // namespace
