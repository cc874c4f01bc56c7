#include "cli_run.h"
#include "metersim_process.h"

#include <QDir>
#include <QDateTime>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace ostrand::testing;

// Unattended use: a meter that logs while it is read, clock hours that repeat, a meter
// reset or swapped between runs. What the meter logged reaches the file exactly once.

namespace {

// The data rows of a CSV file, its heading line left out.
QList<QByteArray> rowsOf(const QByteArray &csv)
{
    QList<QByteArray> rows = csv.split('\n');
    rows.removeFirst();
    rows.removeAll(QByteArray());
    return rows;
}

// The new rows a collect run reported for the station, -1 when it did not say "ok".
int newRowsReported(const CliRun &run)
{
    for (const QString &line : run.lines) {
        if (line.startsWith("a: ok, "))
            return line.section(' ', 2, 2).toInt();
    }
    return -1;
}

// A log file of `instants` 15-minute instants on channels 1 and 2 from `first`; values from `base`.
QByteArray logFile(const QString &first, int instants, double base)
{
    QByteArray text;
    QDateTime when = QDateTime::fromString(first, "yyyy-MM-dd HH:mm");
    for (int i = 0; i < instants; ++i, when = when.addSecs(900)) {
        for (int channel = 1; channel <= 2; ++channel)
            text += QString("%1,%2,%3\n").arg(when.toString("yyyy-MM-dd HH:mm")).arg(channel).arg(base + i).toUtf8();
    }
    return text;
}

} // namespace

TEST(ContinuousUse, aMeterLoggingWhileItIsReadLosesNothingToCollectAndAnotherMeterOnItsLinkIsNeverTold)
{
    QTemporaryDir dir;
    const QStringList logging = {"--records", "60", "--channels", "3", "--baud", "4800", "--log-every-seconds", "1",
                                 "--start", "2026-11-01 00:15"};
    MeterSimProcess collected;
    ASSERT_TRUE(collected.start(dir.path(), logging, "M1"));
    const QString stations = dir.filePath("stations.ini"), out = dir.filePath("a.csv");
    writeFileBytes(stations, QString("[a]\nport = %1\noutput = a.csv\n").arg(collected.linkPath()).toUtf8());

    // Each run reads what was logged while it ran, too: more than the 60 instants the first time.
    const CliRun first = runCli({"collect", "--stations", stations});
    EXPECT_GT(newRowsReported(first), 60) << qPrintable(first.errors);
    // A second meter takes over the link in the middle of the third run: the run stays
    // with the meter it began on, and the other one is never told anything.
    const QString firstMeter = QFileInfo(collected.linkPath()).canonicalFilePath();
    QThread::msleep(1500);
    EXPECT_GT(newRowsReported(runCli({"collect", "--stations", stations})), 0);
    QProcess third;
    third.start(OSTRAND_CLI, {"collect", "--stations", stations});
    MeterSimProcess intruder;
    QThread::msleep(1500);
    ASSERT_TRUE(intruder.start(dir.path(), {"--records", "60", "--channels", "3", "--start", "2025-01-01 00:15"}, "M1"));
    ASSERT_TRUE(third.waitForFinished(60000));
    EXPECT_EQ(third.exitCode(), 0) << third.readAllStandardError().constData();
    EXPECT_EQ(intruder.confirmations(), 0);

    const QString whole = dir.filePath("whole.csv");
    ASSERT_EQ(runCli({"download", "--port", firstMeter, "--output", whole}).exitCode, 0);
    const QByteArray log = readFileBytes(whole);
    const QByteArray file = readFileBytes(out);
    // Every instant once, in the meter's order, none missing up to the last collected.
    EXPECT_TRUE(log.startsWith(file)) << file.right(300).constData() << "\n---\n" << log.constData();
    EXPECT_GT(rowsOf(file).size(), 60 + 5);
}

TEST(ContinuousUse, everyReadingIsKeptWhateverItsStampAndTheFirstRunOntoAnOlderFileAddsOnlyWhatItLacks)
{
    // The autumn clock change: 01:00 to 01:45 twice, with other readings.
    QByteArray autumn = logFile("2026-10-25 00:15", 7, 10);
    autumn += logFile("2026-10-25 01:00", 4, 50) + logFile("2026-10-25 02:00", 8, 60);
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
        if (c.keptFromTruth >= 0) {
            const QList<QByteArray> lines = readFileBytes(truth).split('\n');
            writeFileBytes(out, lines.mid(0, 1 + c.keptFromTruth).join('\n') + '\n');
        }
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

// A cursor file copied from another station, and an output changed by hand since its cursor was
// written: neither cursor is the output's, so the whole log is read and the output gets what it lacks.
TEST(ContinuousUse, aCursorNotWrittenForTheOutputIsLeftAsideAndTheOutputGetsEachMissingRowOnce)
{
    QTemporaryDir dir;
    writeFileBytes(dir.filePath("a.txt"), logFile("2026-06-01 00:15", 20, 1));
    writeFileBytes(dir.filePath("b.txt"), logFile("2026-06-01 00:15", 30, 1));
    MeterSimProcess a, b;
    ASSERT_TRUE(a.start(dir.path(), {"--log-file", dir.filePath("a.txt")}, "MA"));
    ASSERT_TRUE(b.start(dir.path(), {"--log-file", dir.filePath("b.txt")}, "MB"));
    const QString stations = dir.filePath("s.ini"), out = dir.filePath("a.csv"), truth = dir.filePath("truth.csv");
    writeFileBytes(stations, QString("[a]\nport = %1\noutput = a.csv\n[b]\nport = %2\noutput = b.csv\n")
                                 .arg(a.linkPath(), b.linkPath()).toUtf8());
    ASSERT_EQ(runCli({"download", "--port", a.linkPath(), "--output", truth}).exitCode, 0);
    ASSERT_EQ(runCli({"collect", "--stations", stations}).exitCode, 0);
    const auto withoutRows = [&](QList<int> rows) {
        QList<QByteArray> lines = readFileBytes(out).split('\n');
        std::sort(rows.rbegin(), rows.rend());
        for (const int row : rows)
            lines.removeAt(row);
        writeFileBytes(out, lines.join('\n'));
    };
    const struct {
        const char *what;
        std::function<void()> change;
        int newRows;
    } cases[] = {
        {"the cursor file of another station", [&] {
             QFile::remove(out + ".cursor");
             QFile::copy(dir.filePath("b.csv.cursor"), out + ".cursor");
         }, 0},
        {"the last five rows removed by hand", [&] { withoutRows({16, 17, 18, 19, 20}); }, 5},
        {"rows in the middle removed by hand", [&] { withoutRows({3, 9}); }, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        const CliRun run = runCli({"collect", "--stations", stations, "--only", "a"});
        EXPECT_EQ(newRowsReported(run), c.newRows) << qPrintable(run.errors);
        EXPECT_TRUE(run.errors.contains("was not written for")) << qPrintable(run.errors);
        QList<QByteArray> held = rowsOf(readFileBytes(out)), logged = rowsOf(readFileBytes(truth));
        std::sort(held.begin(), held.end());
        std::sort(logged.begin(), logged.end());
        EXPECT_EQ(held.join('\n').toStdString(), logged.join('\n').toStdString());
        // Its own cursor again: the next run adds nothing and says nothing.
        const CliRun again = runCli({"collect", "--stations", stations, "--only", "a"});
        EXPECT_EQ(newRowsReported(again), 0) << qPrintable(again.errors);
        EXPECT_TRUE(again.errors.isEmpty()) << qPrintable(again.errors);
    }
}
