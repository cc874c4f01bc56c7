#include "app/main_window.h"
#include "fake_file_dialogs.h"
#include "metersim_process.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "qt_printers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

const QStringList kLog = {"--records", "120", "--channels", "3", "--start", "2026-11-30 08:00"};
const QByteArray kPrevious = "the previous download\r\n";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct CliDownload {
    int exitCode = -1;
    QString lastLine;
    QString errors; // stderr: the detail beside the status
    QByteArray file;
    int confirmations = 0;
};

// One download with ostrand-cli from a simulated meter started with `faults`,
// into a file that held an earlier download.
CliDownload downloadFrom(const QStringList &faults)
{
    QTemporaryDir dir;
    MeterSimProcess sim;
    CliDownload run;
    if (!sim.start(dir.path(), kLog + faults))
        return run;
    const QString output = dir.filePath(QStringLiteral("out.csv"));
    QFile previous(output);
    previous.open(QIODevice::WriteOnly);
    previous.write(kPrevious);
    previous.close();

    QProcess cli;
    cli.start(QStringLiteral(OSTRAND_CLI), {"download", "--port", sim.linkPath(), "--output", output});
    cli.waitForFinished(180000);
    run.exitCode = cli.exitCode();
    const QStringList lines = QString::fromLocal8Bit(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.lastLine = lines.value(lines.size() - 1);
    run.errors = QString::fromLocal8Bit(cli.readAllStandardError());
    run.file = readAll(output);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    run.confirmations = sim.count(QStringLiteral("confirmed"));
    return run;
}

// Whatever a fault did, nothing is lost: either the whole log was written and
// confirmed, or the previous file is untouched and the meter was not told.
void expectNothingLost(const CliDownload &run, const QByteArray &clean)
{
    if (run.exitCode == 0) {
        EXPECT_EQ(run.lastLine, "Finished. Data in File");
        EXPECT_EQ(run.file, clean);
        EXPECT_EQ(run.confirmations, 1);
    } else {
        EXPECT_EQ(run.exitCode, 4);
        EXPECT_EQ(run.lastLine, "Error in Downloading!!");
        EXPECT_EQ(run.file, kPrevious);
        EXPECT_EQ(run.confirmations, 0);
    }
}

class FaultInjection : public ::testing::Test {
protected:
    static void SetUpTestSuite() { clean = new QByteArray(downloadFrom({}).file); }
    static void TearDownTestSuite() { delete clean; }
    static QByteArray *clean;
};
QByteArray *FaultInjection::clean = nullptr;

// Waits until `process` has printed `line` on stdout, keeping what it read in *out.
bool waitForLine(QProcess &process, const QString &line, QString *out)
{
    QElapsedTimer wait;
    wait.start();
    while (!out->split(u'\n').contains(line) && wait.elapsed() < 30000) {
        process.waitForReadyRead(100);
        *out += QString::fromLocal8Bit(process.readAllStandardOutput());
    }
    return out->split(u'\n').contains(line);
}

} // namespace

TEST_F(FaultInjection, corruptedRepliesAreRetriedAndTheFileIsTheSameAsFromAHealthyMeter)
{
    ASSERT_TRUE(clean->startsWith("Date / Time,"));
    const CliDownload run = downloadFrom({"--corrupt-crc", "--corrupt-every", "3"});
    EXPECT_EQ(run.exitCode, 0);
    expectNothingLost(run, *clean);
}

TEST_F(FaultInjection, lateRepliesStillGiveTheWholeLog)
{
    const CliDownload run = downloadFrom({"--delay-ms", "300"});
    EXPECT_EQ(run.exitCode, 0);
    expectNothingLost(run, *clean);
}

TEST_F(FaultInjection, aLineDroppedInTheMiddleOfADownloadLosesNothing)
{
    expectNothingLost(downloadFrom({"--drop-mid-download"}), *clean);
    expectNothingLost(downloadFrom({"--drop-after", "700"}), *clean);
}

TEST_F(FaultInjection, aSilentMeterEndsInTheErrorAndTheWindowStaysResponsive)
{
    QTemporaryDir dir;
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start(dir.path(), kLog + QStringList{"--silent"}));
    QFile previous(dir.filePath(QStringLiteral("Logdata.csv")));
    ASSERT_TRUE(previous.open(QIODevice::WriteOnly));
    previous.write(kPrevious);
    previous.close();

    QtSerialPort port(dir.path());
    SystemClock clock;
    QtEventPump pump;
    FakeFileDialogs dialogs;
    MainWindow window(dir.path(), {port, clock, pump, dialogs});
    window.load();
    // A timer standing in for the user: it must keep being served while the download waits.
    int ticks = 0;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] { ++ticks; });
    user.start(100);
    QElapsedTimer elapsed;
    elapsed.start();
    window.findChild<QPushButton *>(QStringLiteral("Command2"))->click();
    const double seconds = elapsed.elapsed() / 1000.0;

    EXPECT_EQ(window.findChild<QLabel *>(QStringLiteral("Label4"))->text(), "Error in Downloading!!");
    EXPECT_GT(seconds, 28.0);
    EXPECT_LT(seconds, 35.0) << "the pointer read gives up after about 30 s";
    EXPECT_GT(ticks, static_cast<int>(seconds * 10 * 0.8)) << "the window was not served while waiting";
    EXPECT_EQ(readAll(previous.fileName()), kPrevious);
    EXPECT_EQ(sim.count(QStringLiteral("confirmed")), 0);
}

TEST_F(FaultInjection, aConfirmationWhoseReplyNeverCameIsToldWhileTheFileStands)
{
    const CliDownload run = downloadFrom({"--drop-before-confirm-reply"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lastLine, "Finished. Data in File");
    EXPECT_EQ(run.file, *clean);
    EXPECT_TRUE(run.errors.contains("the meter did not acknowledge the download confirmation: ")) << run.errors.toStdString();
}

TEST_F(FaultInjection, anotherMeterAnsweringAfterAReopenEndsTheDownloadWithNothingWrittenOrConfirmed)
{
    QTemporaryDir dir;
    auto first = std::make_unique<MeterSimProcess>();
    ASSERT_TRUE(first->start(dir.path(), {"--records", "2000", "--channels", "3", "--baud", "9600"}));
    const QString output = dir.filePath(QStringLiteral("out.csv"));
    QFile previous(output);
    ASSERT_TRUE(previous.open(QIODevice::WriteOnly));
    previous.write(kPrevious);
    previous.close();

    QProcess cli;
    cli.start(QStringLiteral(OSTRAND_CLI), {"download", "--port", first->linkPath(), "--output", output});
    QString printed;
    ASSERT_TRUE(waitForLine(cli, QStringLiteral("All Data Download"), &printed));
    // The second meter takes over the link name, then the first one's line goes dead.
    MeterSimProcess second;
    ASSERT_TRUE(second.start(dir.path(), {"--records", "500", "--channels", "3", "--labels", "Level,Velocity,Flow"}));
    first.reset();
    ASSERT_TRUE(cli.waitForFinished(120000));

    printed += QString::fromLocal8Bit(cli.readAllStandardOutput());
    EXPECT_EQ(cli.exitCode(), 4);
    EXPECT_TRUE(printed.trimmed().endsWith("Error in Downloading!!")) << printed.toStdString();
    EXPECT_TRUE(QString::fromLocal8Bit(cli.readAllStandardError())
                    .contains("a different meter answered after the line was reopened"));
    EXPECT_EQ(readAll(output), kPrevious);
    EXPECT_EQ(second.count(QStringLiteral("confirmed")), 0);
}

TEST_F(FaultInjection, aSecondProgramReachingThePortByAnotherNameIsRefusedAtOnce)
{
    QTemporaryDir dir;
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start(dir.path(), kLog + QStringList{"--baud", "9600"}));
    QProcess first;
    first.start(QStringLiteral(OSTRAND_CLI),
                {"download", "--port", sim.linkPath(), "--output", dir.filePath(QStringLiteral("first.csv"))});
    QString printed;
    ASSERT_TRUE(waitForLine(first, QStringLiteral("All Data Download"), &printed));

    QElapsedTimer elapsed;
    elapsed.start();
    QProcess second;
    second.start(QStringLiteral(OSTRAND_CLI), {"download", "--port", QFileInfo(sim.linkPath()).canonicalFilePath(),
                                               "--output", dir.filePath(QStringLiteral("second.csv"))});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_LT(elapsed.elapsed(), 3000);
    EXPECT_EQ(second.exitCode(), 4);
    EXPECT_TRUE(QString::fromLocal8Bit(second.readAllStandardError()).contains("port in use by another program"));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("second.csv"))));

    ASSERT_TRUE(first.waitForFinished(120000));
    EXPECT_EQ(first.exitCode(), 0) << "the first download went on undisturbed";
}
