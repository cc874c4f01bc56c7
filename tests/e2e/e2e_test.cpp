#include "app/line_worker.h"
#include "app/main_window.h"
#include "cli_run.h"
#include "fake_file_dialogs.h"
#include "link/meter_link.h"
#include "metersim_process.h"
#include "monitor/frame_monitor.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "pseudo_terminal.h"
#include "qt_printers.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

const QStringList kLog = {"--records", "120", "--channels", "3", "--start", "2026-11-30 08:00"};
const QByteArray kPrevious = "the previous download\r\n";

// The window in real time beside the simulated meter's COM1.
class EndToEnd : public ::testing::Test {
protected:
    void startWindow(const QStringList &meter)
    {
        ASSERT_TRUE(sim.start(dir.path(), meter));
        // The line on a thread of its own, as the program runs it.
        const QString links = dir.path();
        window = std::make_unique<MainWindow>(
            dir.path(), Platform{port, clock, pump, dialogs, [links] { return std::make_unique<QtSerialPort>(links); }});
        window->load();
    }
    QString status() { return control<QLabel>("Label4")->text(); }
    bool statusBecomes(const QString &text, int seconds = 30) { return waitFor([&] { return status() == text; }, seconds * 1000); }
    // Clicks `button` and waits for the download it starts to finish.
    bool downloads(const char *button = "Command2", int seconds = 30)
    {
        control<QPushButton>(button)->click();
        return statusBecomes(QStringLiteral("Finished. Data in File"), seconds);
    }
    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }
    // Closes the window's port, as the command line needs the line to itself.
    void closeLine()
    {
        window->line().run([](MeterLink &link) { link.serial().closePort(); });
        waitFor([&] { return !window->line().busy(); });
    }
    template <typename W> W *control(const char *name) { return window->findChild<W *>(QLatin1String(name)); }
    bool waitFor(const std::function<bool()> &done, int timeoutMs = 5000) { return QTest::qWaitFor(done, timeoutMs); }

    QTemporaryDir dir;
    MeterSimProcess sim;
    QtSerialPort port{dir.path()};
    SystemClock clock;
    QtEventPump pump;
    FakeFileDialogs dialogs;
    std::unique_ptr<MainWindow> window;
};

CliRun download(const MeterSimProcess &sim, const QString &file, const QStringList &options = {})
{
    return runCli(QStringList{"download", "--port", sim.linkPath(), "--output", file} + options);
}

QByteArray rowsOf(const QString &file) { return readFileBytes(file).mid(readFileBytes(file).indexOf('\n') + 1); }

// The next Since Last Time and a whole log read then: the whole log holds `file`'s rows and the next run's, none twice.
void expectTheNextRunFollows(const MeterSimProcess &sim, const QTemporaryDir &dir, const QByteArray &file)
{
    QTest::qWait(2100);
    const QString next = dir.filePath(QStringLiteral("next.csv")), whole = dir.filePath(QStringLiteral("whole.csv"));
    ASSERT_EQ(download(sim, next, {"--since-last"}).exitCode, 0);
    ASSERT_EQ(download(sim, whole).exitCode, 0);
    EXPECT_TRUE(readFileBytes(whole).startsWith(file + rowsOf(next))) << (file + rowsOf(next)).right(400).constData();
}

} // namespace

// Nothing is lost: the whole log written and confirmed, or the earlier file stands unconfirmed.
TEST(FaultInjection, aFaultyMeterOrLineLosesNothing)
{
    constexpr int kEither = -1; // the whole log, or the error with the earlier file
    const struct {
        const char *what;
        QStringList faults;
        int exitCode;
        const char *error = nullptr;
        bool takenOver = false; // by another meter once the download has begun
        int withinMs = 180000;
        QStringList options = {};
    } rows[] = {
        {"a healthy meter", {}, 0},
        {"corrupted CRCs are retried", {"--corrupt-crc", "--corrupt-every", "3"}, 0},
        // Later than the block read's resend interval: the interval lengthens to suit.
        {"replies 900 ms late", {"--delay-ms", "900"}, 0, nullptr, false, 40000},
        // A drop may or may not be recovered, depending on when the line comes back.
        {"the line dropped mid-download", {"--drop-mid-download"}, kEither},
        {"the line dropped after 700 bytes", {"--drop-after", "700"}, kEither},
        {"a dead block", {"--dead-block", "8:80:0"}, 4},
        {"an unanswered confirmation is told while the file stands", {"--drop-before-confirm-reply"}, 0,
         "the meter did not acknowledge the download confirmation: "},
        // The device is the one the download began on: the reopen finds it gone, and
        // the meter the link now leads to is never asked.
        {"the first meter's line dead, its link pointed at another", {"--records", "2000", "--baud", "9600"}, 4,
         "Cannot open /dev/", true},
        {"a meter refusing the block read, at once and saying why", {"--refuse-function", "0x60:1"}, 4,
         "The meter at address 1 refused function 0x60 (illegal function): is this the right meter type and address?",
         false, 5000},
        // The meter's own functions are beyond a slave that frames requests by their length.
        {"a meter silent to every block read, given up after two", {"--dead-block", "18:81:0", "--dead-block", "18:82:0",
         "--dead-block", "18:83:0", "--dead-block", "18:84:0", "--dead-block", "18:85:0", "--dead-block", "18:86:0",
         "--dead-block", "18:87:0", "--dead-block", "18:88:0"}, 4,
         "the meter answered the pointer read and then nothing", false, 20000},
        {"the line lost in the first reply, said so", {"--drop-after", "20"}, 4,
         "during the download: the device went away (", false, 10000},
        {"since last time, every reply spoiled once", {"--corrupt-crc-once"}, 0, nullptr, false, 180000, {"--since-last"}},
    };
    QByteArray clean;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        auto sim = std::make_unique<MeterSimProcess>();
        ASSERT_TRUE(sim->start(dir.path(), kLog + row.faults));
        const QString output = dir.filePath(QStringLiteral("out.csv"));
        writeFileBytes(output, kPrevious);
        QProcess cli;
        QElapsedTimer took;
        took.start();
        cli.start(QStringLiteral(OSTRAND_CLI),
                  QStringList{"download", "--port", sim->linkPath(), "--output", output} + row.options);
        QByteArray printed;
        if (row.takenOver) {
            while (!printed.contains("All Data Download\n") && cli.waitForReadyRead(30000))
                printed += cli.readAllStandardOutput();
            auto second = std::make_unique<MeterSimProcess>();
            ASSERT_TRUE(second->start(dir.path(), {"--records", "500", "--channels", "3", "--labels", "Level,Velocity,Flow"}));
            sim = std::move(second); // the first one's line goes dead
        }
        ASSERT_TRUE(cli.waitForFinished(180000));
        EXPECT_LT(took.elapsed(), row.withinMs);
        printed += cli.readAllStandardOutput();
        const QString errors = QString::fromLocal8Bit(cli.readAllStandardError());
        sim->waitFor(QStringLiteral("confirmed"), 1, 500);
        const QByteArray file = readFileBytes(output);
        if (clean.isEmpty())
            clean = file;

        EXPECT_TRUE(row.exitCode == kEither ? cli.exitCode() == 0 || cli.exitCode() == 4 : cli.exitCode() == row.exitCode)
            << "exit " << cli.exitCode() << ": " << errors.toStdString();
        const bool whole = cli.exitCode() == 0;
        EXPECT_TRUE(printed.trimmed().endsWith(whole ? "Finished. Data in File" : "Error in Downloading!!"))
            << printed.toStdString();
        EXPECT_EQ(file, whole ? clean : kPrevious);
        EXPECT_EQ(sim->confirmations(), whole ? 1 : 0);
        EXPECT_TRUE(!row.error || errors.contains(row.error)) << errors.toStdString();
    }
    EXPECT_TRUE(clean.startsWith("Date / Time,"));
}

TEST_F(EndToEnd, stopAndExitEndADownloadAtOnceWritingAndConfirmingNothingAndExitClosesThePort)
{
    startWindow({"--records", "2000", "--channels", "8", "--baud", "9600"});
    int exits = 0;
    window->setExitHandler([&] { ++exits; });
    window->setStopQuestion([] { return true; });
    writeFileBytes(file("Logdata.csv"), kPrevious);
    for (QPushButton *stop : {control<QPushButton>("Command2"), static_cast<QPushButton *>(nullptr)}) {
        control<QPushButton>("Command2")->click();
        QTest::qWait(1500);
        QElapsedTimer sinceStop;
        sinceStop.start();
        stop ? stop->click() : window->findChild<QAction *>(QStringLiteral("File_mnu"))->trigger();
        EXPECT_TRUE(statusBecomes("Stopped", 5)) << status().toStdString();
        EXPECT_LT(sinceStop.elapsed(), 200) << "Stop ends even a wait for the meter at once";
    }
    EXPECT_EQ(readFileBytes(file("Logdata.csv")), kPrevious);
    EXPECT_EQ(sim.confirmations(), 0);
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(control<QPushButton>("Command2")->text(), "&Download Data");
    EXPECT_FALSE(window->line().state().open) << "the process ends without holding the port";
}

// A silent meter's download ends in the error after about 30 s, the window served all along.
TEST_F(EndToEnd, dialogsHeldOpenDoNotDisturbADownloadAndClosingTheWindowEndsAPollAtOnce)
{
    startWindow({"--records", "1000", "--channels", "3", "--baud", "9600"});
    writeFileBytes(file("Logdata.csv"), kPrevious);
    QStringList shown;
    for (const char *menu : {"About_mnu", "Help_mnu"}) {
        // Each box stays open 10 s, its own event loop running, while the download goes on.
        QTimer::singleShot(300, window.get(), [&, menu] {
            QTimer::singleShot(10000, [&] {
                if (QWidget *box = QApplication::activeModalWidget()) {
                    shown << box->windowTitle();
                    box->close();
                }
            });
            window->findChild<QAction *>(QLatin1String(menu))->trigger();
        });
        if (shown.isEmpty())
            control<QPushButton>("Command2")->click();
        QTest::qWait(10600);
    }
    EXPECT_EQ(shown, (QStringList{"About Ostrand Download", "Ostrand Download Help"}));
    ASSERT_TRUE(statusBecomes("Finished. Data in File", 60)) << status().toStdString();
    EXPECT_EQ(window->monitor().counters().resends, 0);
    EXPECT_EQ(window->monitor().counters().timeOuts, 0);
    closeLine(); // the next download opens COM1 again

    MeterSimProcess silent; // takes over COM1
    ASSERT_TRUE(silent.start(dir.path(), {"--silent"}));
    // A download from it ends in the error while the window is served: a timer stands in for the user.
    const QByteArray previous = readFileBytes(file("Logdata.csv"));
    int ticks = 0;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] { ++ticks; });
    user.start(100);
    QElapsedTimer elapsed;
    elapsed.start();
    control<QPushButton>("Command2")->click();
    EXPECT_TRUE(statusBecomes("Error in Downloading!!", 40)) << status().toStdString();
    const double seconds = elapsed.elapsed() / 1000.0;
    EXPECT_GT(seconds, 28.0);
    EXPECT_LT(seconds, 35.0) << "the pointer read gives up after about 30 s";
    EXPECT_GT(ticks, static_cast<int>(seconds * 10 * 0.8)) << "the window was not served while waiting";
    EXPECT_EQ(readFileBytes(file("Logdata.csv")), previous);
    EXPECT_EQ(silent.confirmations(), 0);
    EXPECT_EQ(control<QLabel>("LastError")->text(), "Last error: No answer from address 1 on COM1 ("
                  + QFileInfo(silent.linkPath()).canonicalFilePath()
                  + ") at 38400 baud within 30 s: check the cable, the baud rate and the address");
    // Closed while a poll waits: the poll is told to stop, the line goes after it, the window at once.
    ASSERT_EQ(control<QPushButton>("Command9")->text(), "&Begin");
    control<QPushButton>("Command9")->click();
    ASSERT_TRUE(waitFor([&] { return window->line().busy(); }));
    QTest::qWait(1500);
    QElapsedTimer sinceClose;
    sinceClose.start();
    window.reset();
    EXPECT_LT(sinceClose.elapsed(), 500);
}

// A download onto a file holding data keeps it; the rows a Since Last Time appends go under the file
// once, and under another download's headings not at all.
TEST(SinceLastAppend, theNewRowsGoUnderTheFileOnceKeepingNoCopyAndOtherHeadingsAreRefusedWithoutAConfirmation)
{
    QTemporaryDir dir;
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start(dir.path(), {"--records", "40", "--channels", "3", "--log-every-seconds", "2"}));
    const QString output = dir.filePath(QStringLiteral("Logdata.csv"));
    writeFileBytes(output, kPrevious);
    const CliRun first = download(sim, output);
    ASSERT_EQ(first.exitCode, 0) << first.errors.toStdString();
    QByteArray grown = readFileBytes(output);
    ASSERT_TRUE(grown.startsWith("Date / Time,"));
    for (int run = 1; run <= 2; ++run) {
        QTest::qWait(2100); // an instant or two
        const CliRun appended = download(sim, output, {"--since-last", "--append"});
        EXPECT_EQ(appended.exitCode, 0) << appended.errors.toStdString();
        EXPECT_FALSE(appended.errors.contains("kept")) << appended.errors.toStdString();
        const QByteArray now = readFileBytes(output);
        EXPECT_TRUE(now.startsWith(grown)) << run;
        EXPECT_GT(now.size(), grown.size()) << run;
        grown = now;
    }
    QTest::qWait(2100);
    const CliRun since = download(sim, output, {"--since-last"});
    ASSERT_EQ(since.exitCode, 0) << since.errors.toStdString();
    EXPECT_TRUE(since.errors.contains("the previous file was kept as Logdata.csv.2\n")) << since.errors.toStdString();
    EXPECT_EQ(readFileBytes(output + ".2"), grown);
    expectTheNextRunFollows(sim, dir, grown + rowsOf(output));
    EXPECT_TRUE(sim.waitFor(QStringLiteral("confirmed"), 6));

    const QByteArray other = "Date / Time,Level\r\n11/30/2026 8:00:00 AM,1\r\n";
    writeFileBytes(output, other);
    const int confirmed = sim.confirmations();
    QTest::qWait(2500);
    const CliRun refused = download(sim, output, {"--since-last", "--append"});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(refused.errors.contains("are not this download's")) << refused.errors.toStdString();
    EXPECT_EQ(readFileBytes(output), other);
    sim.waitFor(QStringLiteral("confirmed"), confirmed + 1, 500);
    EXPECT_EQ(sim.confirmations(), confirmed);

    EXPECT_EQ(download(sim, output, {"--append"}).exitCode, 64) << "a whole log appended would hold its rows twice";
}

// The question held open 10 s while the meter logs every 2 s: what it logged meanwhile goes into the file too.
TEST_F(EndToEnd, sinceLastTimeAsksWhileTheLinesJobWaitsAndAppendsBeforeItConfirms)
{
    startWindow({"--records", "40", "--channels", "3", "--log-every-seconds", "2"});
    ASSERT_TRUE(downloads()) << status().toStdString();
    const QString output = file("Logdata.csv");
    const QByteArray full = readFileBytes(output);
    QTest::qWait(2100);
    dialogs.whileAsked = [] { QTest::qWait(10000); };
    dialogs.answerNextAction(0);
    ASSERT_TRUE(downloads("Command7", 40)) << status().toStdString();
    EXPECT_EQ(dialogs.questions().size(), 1u);
    const QByteArray appended = readFileBytes(output);
    EXPECT_TRUE(appended.startsWith(full));
    EXPECT_GE(appended.count('\n') - full.count('\n'), 5) << "what was logged while the question was open";
    EXPECT_TRUE(sim.waitFor(QStringLiteral("confirmed"), 2));
    closeLine();
    expectTheNextRunFollows(sim, dir, appended);
}

// The window and the command line write the same file, each confirming once.
TEST_F(EndToEnd, theWindowLetsThePortGoWhenIdleOnlyIfToldAndIsNamedWhileItHoldsIt)
{
    startWindow({"--records", "300", "--channels", "3", "--start", "2026-11-28 00:00", "--labels",
                 "Flow,Flow Tot,Level", "--wrap"});
    auto *release = control<QCheckBox>("ReleaseWhenIdle");
    ASSERT_TRUE(downloads()) << status().toStdString();
    const QByteArray fromWindow = readFileBytes(file("Logdata.csv"));
    EXPECT_TRUE(sim.waitFor(QStringLiteral("confirmed")));
    const QList<QByteArray> lines = fromWindow.split('\n');
    ASSERT_EQ(lines.size(), 302) << "a heading, 300 instants and the last line's end";

    // This process holds the port for the window; the system knows it by the window's name.
    char ownName[17] = {};
    ::prctl(PR_GET_NAME, ownName);
    ::prctl(PR_SET_NAME, "ostrand-download");
    const CliRun refused = download(sim, file("cli.csv"));
    ::prctl(PR_SET_NAME, ownName);
    EXPECT_EQ(refused.exitCode, 4);
    const QString holder =
        QStringLiteral("held by ostrand-download, process %1: close it or let it go when idle").arg(::getpid());
    EXPECT_TRUE(refused.errors.contains(holder)) << refused.errors.toStdString();

    release->setChecked(true);
    ASSERT_TRUE(waitFor([&] { return !window->line().state().open; }, 10000));
    const CliRun run = download(sim, file("cli.csv"));
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.lines, (QStringList{"Downloading", "All Data Download", "Completed Download.",
                                      "Finished. Data in File"}));
    EXPECT_EQ(readFileBytes(file("cli.csv")), fromWindow);
    EXPECT_TRUE(sim.waitFor(QStringLiteral("confirmed"), 2));
    EXPECT_EQ(sim.confirmations(), 2);
    EXPECT_TRUE(window->isEnabled());
}

// The download's stderr is a terminal, which is where its progress goes. A path that adds 200 ms to
// every reply is under every resend interval: no reply time is needed, and no request goes out twice.
// (The echo and the request gap are the link's table; a longer log would fill the simulator's trace pipe.)
TEST(LineOptions, aPathThatAdds200msToEveryReplyAsksNothingTwiceAndTheProgressEndsAt100)
{
    QTemporaryDir dir;
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start({"--records", "300", "--channels", "3", "--delay-ms", "200"}));
    PseudoTerminal terminal;
    const QByteArray stderrPath = QFile::encodeName(terminal.slavePath());
    const CliRun run = runCli(QStringList{"download", "--port", sim.linkPath(), "--output", dir.filePath("o.csv")}, {},
                              120000, [stderrPath] { ::dup2(::open(stderrPath.constData(), O_WRONLY | O_NOCTTY), 2); });
    const QString said = QString::fromLatin1(terminal.read(1 << 16, 500));
    EXPECT_EQ(run.exitCode, 0) << said.toStdString();
    EXPECT_TRUE(said.contains(QLatin1String("%  a few seconds left"))) << said.toStdString();
    EXPECT_TRUE(sim.waitFor("confirmed") && said.contains(QRegularExpression("\\r100% *\\n")))
        << "no time left shown at the end";
    // The simulator traces each request.
    const QRegularExpression request("<- ([0-9A-F ]+)(  \\(\\d+ ms quiet before it\\))?$");
    QStringList asked;
    for (const QString &line : sim.trace().filter(request))
        asked << request.match(line).captured(1);
    EXPECT_EQ(std::adjacent_find(asked.begin(), asked.end()), asked.end()) << "a request asked again";
    EXPECT_GE(asked.size(), 10);
}
