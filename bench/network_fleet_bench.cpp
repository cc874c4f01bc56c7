// A fleet of tcp:// stations on 127.0.0.1, each an ostrand-metersim --tcp-listen
// pacing at 38400 baud with the same log: one station collected alone, then
// all of them by one ostrand-cli collect run. Prints the ratio of the two,
// and the collect run's peak memory (getrusage maxrss) and peak thread count.
// Run: BUILD/bench/network_fleet_bench [stations] [instants]   (default 100 stations of 300 instants)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

// Runs one collect over `stations`, sampling the process's thread count as it goes.
double collect(const QString &stations, int *peakThreads, int *exitCode)
{
    QProcess cli;
    QElapsedTimer wall;
    wall.start();
    cli.start(QStringLiteral(OSTRAND_CLI), {"collect", "--stations", stations, "--retries", "0"});
    cli.waitForStarted();
    QFile status(QStringLiteral("/proc/%1/status").arg(cli.processId()));
    while (!cli.waitForFinished(20)) {
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("Threads:"))
                    *peakThreads = std::max(*peakThreads, line.mid(8).trimmed().toInt());
            }
            status.close();
        }
    }
    *exitCode = cli.exitCode();
    return wall.elapsed() / 1000.0;
}

QString writeStations(const QTemporaryDir &dir, const QString &name, const QStringList &addresses)
{
    QByteArray text;
    for (int i = 0; i < addresses.size(); ++i)
        text += QStringLiteral("[s%1]\nport = %2\noutput = %3-s%1.csv\n").arg(i).arg(addresses[i], name).toUtf8();
    QFile file(dir.filePath(name + QStringLiteral(".ini")));
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return file.fileName();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 100;
    const QString instants = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("300");
    QTemporaryDir dir;
    std::vector<std::unique_ptr<QProcess>> sims;
    QStringList addresses;
    for (int i = 0; i < count; ++i) {
        sims.push_back(std::make_unique<QProcess>());
        QProcess &sim = *sims.back();
        sim.setStandardErrorFile(QProcess::nullDevice());
        sim.start(QStringLiteral(OSTRAND_METERSIM), {"--tcp-listen", "0", "--baud", "38400", "--channels", "3",
                                                     "--records", instants, "--start", "2026-11-01 00:00"});
        QByteArray out;
        while (!out.contains('\n') && sim.waitForReadyRead(10000))
            out += sim.readAllStandardOutput();
        addresses << QString::fromLatin1(out).section(u' ', 1, 1).trimmed();
    }
    int threads = 0;
    int status = 0;
    const double alone = collect(writeStations(dir, QStringLiteral("alone"), addresses.mid(0, 1)), &threads, &status);
    int peakThreads = 0;
    const double fleet = collect(writeStations(dir, QStringLiteral("fleet"), addresses), &peakThreads, &status);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    for (auto &sim : sims)
        sim->terminate();
    for (auto &sim : sims)
        sim->waitForFinished(3000);
    rusage all{};
    getrusage(RUSAGE_CHILDREN, &all);
    const auto cpu = [](const rusage &u) {
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    std::printf("exit status:      %d\n", status);
    std::printf("one station:      %.2f s\n", alone);
    std::printf("%d stations:     %.2f s (%.3f x one station)\n", count, fleet, fleet / alone);
    std::printf("collect peak:     %ld MB resident, %d threads\n", usage.ru_maxrss / 1024, peakThreads);
    std::printf("CPU:              %.1f s in the two collect runs, %.1f s in the simulated meters\n", cpu(usage),
                cpu(all) - cpu(usage));
    return status;
}
