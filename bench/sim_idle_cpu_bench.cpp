// How much CPU the simulated meter uses while nobody talks to it: started on a
// pseudo-terminal, asked once, then left alone for ten seconds. A meter that
// spins in its wait would show a whole core here.
// Run: BUILD/bench/sim_idle_cpu_bench
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// User and system clock ticks of process `pid` so far.
long cpuTicks(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;
    long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
}

} // namespace

int main()
{
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(OSTRAND_METERSIM), {"--link", dir.filePath("COM1"), "--records", "96"});
    if (!sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "the simulator did not get ready\n");
        return 1;
    }
    QThread::msleep(500);
    const long before = cpuTicks(sim.processId());
    constexpr int kSeconds = 10;
    QThread::sleep(kSeconds);
    const long used = cpuTicks(sim.processId()) - before;
    const long perSecond = sysconf(_SC_CLK_TCK);
    std::printf("idle simulator: %.2f %% of one core over %d s (%ld ticks)\n",
                100.0 * used / (perSecond * kSeconds), kSeconds, used);
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
