#include "app/main_window.h"
#include "fake_file_dialogs.h"
#include "cli_run.h"
#include "metersim_process.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "qt_printers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}


void waitForConfirmations(MeterSimProcess &sim, int expected)
{
    QElapsedTimer wait;
    wait.start();
    while (sim.count(QStringLiteral("confirmed")) < expected && wait.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class DownloadEndToEnd : public ::testing::Test {
protected:
    QTemporaryDir dir;
    MeterSimProcess sim;
};

} // namespace

TEST_F(DownloadEndToEnd, theWindowAndTheCommandLineWriteTheSameFileAndEachConfirmsOnce)
{
    ASSERT_TRUE(sim.start(dir.path(), {"--records", "300", "--channels", "3", "--start", "2026-11-28 00:00",
                                       "--labels", "Flow,Flow Tot,Level", "--wrap"}));

    QtSerialPort port(dir.path());
    SystemClock clock;
    QtEventPump pump;
    FakeFileDialogs dialogs;
    MainWindow window(dir.path(), {port, clock, pump, dialogs});
    window.load();
    window.findChild<QPushButton *>(QStringLiteral("Command2"))->click();
    EXPECT_EQ(window.findChild<QLabel *>(QStringLiteral("Label4"))->text(), "Finished. Data in File");
    port.close(); // the command line needs the line to itself
    const QByteArray fromWindow = readAll(QDir(dir.path()).filePath(QStringLiteral("Logdata.csv")));
    waitForConfirmations(sim, 1);
    EXPECT_EQ(sim.count(QStringLiteral("confirmed")), 1);

    const QString cliFile = dir.filePath(QStringLiteral("cli.csv"));
    const CliRun run = runCli({"download", "--port", sim.linkPath(), "--output", cliFile});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.lines, (QStringList{"Downloading", "All Data Download", "Completed Download.",
                                      "Finished. Data in File"}));
    EXPECT_EQ(readAll(cliFile), fromWindow);
    waitForConfirmations(sim, 2);
    EXPECT_EQ(sim.count(QStringLiteral("confirmed")), 2);

    const QList<QByteArray> lines = fromWindow.split('\n');
    ASSERT_EQ(lines.size(), 302) << "a heading, 300 instants and the last line's end";
    EXPECT_EQ(lines[0], "Date / Time,Flow,Flow Tot,Level\r");
    // Midnight closes the day before; a midnight stamp is written as the date alone.
    EXPECT_TRUE(lines[1].startsWith("11/28/2026,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("11/28/2026 12:15:00 AM,")) << lines[2].toStdString();
}

TEST_F(DownloadEndToEnd, nothingIsConfirmedWhenTheFileCannotBeWrittenOrTheMeterFails)
{
    ASSERT_TRUE(sim.start(dir.path(), {"--records", "50", "--dead-block", "8:80:0"}));
    const QString file = dir.filePath(QStringLiteral("out.csv"));
    QFile old(file);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("previous download\r\n");
    old.close();

    CliRun run = runCli({"download", "--port", sim.linkPath(), "--output", file});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.lines.value(run.lines.size() - 1), "Error in Downloading!!");
    EXPECT_EQ(readAll(file), "previous download\r\n");
}

TEST_F(DownloadEndToEnd, anUnwritableOutputAndBadUsageGetTheirExitStatus)
{
    ASSERT_TRUE(sim.start(dir.path(), {"--records", "20"}));
    CliRun run = runCli({"download", "--port", sim.linkPath(), "--output", dir.filePath("no/such/dir/x.csv")});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.lines.value(run.lines.size() - 1), "Error putting into file!!");
    waitForConfirmations(sim, 1);
    EXPECT_EQ(sim.count(QStringLiteral("confirmed")), 0);

    EXPECT_EQ(runCli({"download"}).exitCode, 64);
    EXPECT_EQ(runCli({"download", "--port", "COM1", "--baud", "115200"}).exitCode, 64);
    EXPECT_EQ(runCli({"download", "--port", "COM1", "--slave", "300"}).exitCode, 64);
    EXPECT_EQ(runCli({"upload"}).exitCode, 64);
}
