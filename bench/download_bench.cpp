// A full log (banks 8 to 23) downloaded from ostrand-metersim pacing its
// replies at 38400 baud: wall time against the wire time of every byte sent
// and received, and the CPU the process used meanwhile.
// Run: BUILD/bench/download_bench [records-per-channel]   (default: a full log of 8 channels)
#include "download/download_display.h"
#include "download/download_engine.h"
#include "link/link_settings.h"
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "monitor/frame_monitor.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "table/grid_state.h"
#include "table/output_file.h"
#include "table/results_grid.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Counts every byte that crosses the line in either direction.
class CountingPort : public ostrand::SerialPort {
public:
    explicit CountingPort(ostrand::SerialPort &inner) : inner_(inner) {}
    bool open(int n, const QString &baud) override { return inner_.open(n, baud); }
    bool isOpen() const override { return inner_.isOpen(); }
    void close() override { inner_.close(); }
    void discardInput() override
    {
        received += inner_.receivedCount();
        inner_.discardInput();
    }
    void discardOutput() override { inner_.discardOutput(); }
    bool send(const QByteArray &bytes) override
    {
        sent += bytes.size();
        return inner_.send(bytes);
    }
    int receivedCount() override { return inner_.receivedCount(); }
    QByteArray read(int count) override
    {
        QByteArray bytes = inner_.read(count);
        received += bytes.size();
        return bytes;
    }
    QString errorString() const override { return inner_.errorString(); }

    qint64 sent = 0;
    qint64 received = 0;

private:
    ostrand::SerialPort &inner_;
};

class QuietDisplay : public ostrand::DownloadDisplay {
public:
    void setStatus(const QString &) override {}
    void setProgress(int) override {}
    void setRecordsUsed(const QString &) override {}
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int, const QString &) override {}
    void showDetail(const QString &) override {}
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString instants = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("4092");
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(OSTRAND_METERSIM),
              {"--link", dir.filePath("COM1"), "--baud", "38400", "--channels", "8", "--records", instants});
    while (sim.waitForReadyRead(10000) && !sim.readAllStandardOutput().contains("ready")) {
    }

    ostrand::QtSerialPort realPort(dir.path());
    CountingPort port(realPort);
    ostrand::SystemClock clock;
    ostrand::QtEventPump pump;
    ostrand::SerialLink serial(port, clock, pump);
    serial.setSettings({1, QStringLiteral("38400"), 1});
    ostrand::MeterLink link(serial);
    ostrand::ResultsGrid grid;
    ostrand::GridState state;
    QuietDisplay display;
    ostrand::DownloadEngine engine(link, grid, state, display);
    // The window's monitor records every frame from start-up: measured with it.
    ostrand::FrameMonitor monitor(clock);
    link.setObserver(&monitor);

    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds();
    const auto result = engine.downloadLog({});
    QString error;
    const bool written = ostrand::writeOutputFile(grid, state, dir.filePath("Logdata.csv"), &error);
    const double seconds = wall.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    const double wire = (port.sent + port.received) * 10.0 / 38400;

    std::printf("result:          %d, file %s, %d data rows\n", static_cast<int>(result), written ? "written" : "NOT written",
                state.lastGridRow - 1);
    std::printf("bytes on wire:   %lld sent, %lld received\n", static_cast<long long>(port.sent),
                static_cast<long long>(port.received));
    std::printf("wire time:       %.2f s at 38400 baud\n", wire);
    std::printf("wall time:       %.2f s (%.3f x wire time)\n", seconds, seconds / wire);
    std::printf("CPU:             %.2f s, %.2f %% of one core\n", cpu, 100 * cpu / seconds);
    sim.terminate();
    sim.waitForFinished(3000);
    return result == ostrand::DownloadResult::Complete && written ? 0 : 1;
}
