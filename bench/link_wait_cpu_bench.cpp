// How much CPU a waiting exchange costs. Opens a pseudo-terminal through a COM1
// link, as a user's adapter would be, sends a holding-register read that
// nothing answers, and measures the process's CPU time over the 30 s until the
// exchange gives up. Run: BUILD/bench/link_wait_cpu_bench [log]  ("log" times
// the 5 s log-block wait instead).
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "link/link_settings.h"
#include "platform/system_clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool logBlock = argc > 1 && QByteArray(argv[1]) == "log";

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    QTemporaryDir dir;
    QFile::link(QString::fromLocal8Bit(ptsname(master)), dir.filePath(QStringLiteral("COM1")));

    ostrand::QtSerialPort port(dir.path());
    ostrand::SystemClock clock;
    ostrand::QtEventPump pump;
    ostrand::SerialLink serial(port, clock, pump);
    serial.setSettings({1, QStringLiteral("38400"), 1});
    ostrand::MeterLink link(serial);

    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds();
    const bool answered = logBlock ? link.readLogBlock(1, 8, 0x80, 0, 128).ok() : link.readHoldingRegisters(1, 76, 8).ok();
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = wall.elapsed() / 1000.0;

    std::printf("exchange:      %s on a silent meter\n", logBlock ? "log block read" : "holding-register read");
    std::printf("answered:      %s\n", answered ? "yes (unexpected)" : "no, gave up");
    std::printf("wall time:     %.2f s\n", seconds);
    std::printf("CPU time:      %.3f s\n", cpu);
    std::printf("CPU use:       %.2f %% of one core\n", 100.0 * cpu / seconds);
    close(master);
    return answered ? 1 : 0;
}
