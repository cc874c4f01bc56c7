// A thousand meters calling in: simulated routers (one ostrand-metersim process,
// a third sending their ID once, a third before every packet, a third none and known
// by their address; half with heartbeats) connect to one ostrand-cli collect --listen
// within 60 s, each with 96 new records of 3 channels paced at 9600 baud, collected
// into SQLite. Prints the time against the goal of 1.2 x (one meter's time alone +
// the 60 s of connects), the listener's peak memory and threads, and checks a sample
// of stations against a direct download of the same meter.
// Run: BUILD/bench/call_in_bench [meters]   (default 1000)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

const QStringList kLog{"--start", "2026-11-01 00:00", "--records", "96", "--channels", "3", "--baud", "9600"};

struct Listener {
    QProcess process;
    QByteArray out;
    QString port;
    int peakThreads = 0;
    long peakKb = 0;

    void start(const QString &stations, const QString &dir)
    {
        process.setWorkingDirectory(dir);
        process.setStandardErrorFile(QDir(dir).filePath("listener.log"));
        process.start(QStringLiteral(OSTRAND_CLI), {"collect", "--stations", stations, "--listen", "127.0.0.1:0"});
        process.waitForStarted();
        while (port.isEmpty() && process.waitForReadyRead(10000)) {
            out += process.readAllStandardOutput();
            port = QRegularExpression(":(\\d+) for").match(QString::fromLatin1(out)).captured(1);
        }
    }
    // Waits until `count` stations printed ok, sampling memory and threads; seconds taken.
    int waitForOk(int count, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        while (out.count(": ok, ") < count && timer.elapsed() < timeoutMs) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
            if (status.open(QIODevice::ReadOnly)) {
                for (const QByteArray &line : status.readAll().split('\n')) {
                    if (line.startsWith("Threads:"))
                        peakThreads = std::max(peakThreads, line.mid(8).trimmed().toInt());
                    if (line.startsWith("VmHWM:"))
                        peakKb = std::max(peakKb, line.mid(6).trimmed().split(' ').first().toLong());
                }
                status.close();
            }
        }
        return static_cast<int>(out.count(": ok, "));
    }
    void stop()
    {
        process.terminate();
        process.waitForFinished(10000);
    }
};

// Meter k's source address: the routers' base address plus k - 1.
QString sourceOf(int k)
{
    return QStringLiteral("127.1.%1.%2").arg((k - 1) / 256).arg((k - 1) % 256);
}

QString writeStations(const QString &dir, int meters, const QString &name)
{
    QByteArray text = "[store]\nurl = sqlite:" + name.toUtf8() + ".db\n";
    for (int k = 1; k <= meters; ++k) {
        const int mode = (k - 1) % 3; // 0 first, 1 every, 2 none: as the routers' list goes round
        text += QStringLiteral("[m%1]\n").arg(k, 4, 10, QLatin1Char('0')).toUtf8();
        if (mode == 2)
            text += QStringLiteral("call-in-from = %1/32\n").arg(sourceOf(k)).toUtf8();
        else
            text += QStringLiteral("call-in = north-%1\n").arg(k, 4, 10, QLatin1Char('0')).toUtf8();
        if (mode == 1)
            text += "call-in-id = every\n";
        if ((k - 1) % 2 == 0)
            text += "heartbeat = PING\n";
        text += QStringLiteral("output = %1/m%2.csv\n").arg(name).arg(k, 4, 10, QLatin1Char('0')).toUtf8();
    }
    QDir(dir).mkpath(name);
    const QString path = QDir(dir).filePath(name + ".ini");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

std::unique_ptr<QProcess> startRouters(const QString &port, int meters, int spreadSeconds)
{
    const QStringList arguments{"--call-in", "127.0.0.1:" + port, "--meters", QString::number(meters),
                                "--call-in-id", "north-%04d", "--call-in-id-mode", "first,every,none",
                                "--call-in-source", "127.1.0.0", "--heartbeat", "PING", "--heartbeat-every", "5,0",
                                "--connect-spread", QString::number(spreadSeconds), "--reconnect-after", "2"};
    auto sim = std::make_unique<QProcess>();
    // What the routers say goes beside the report, for a run that goes wrong.
    sim->setStandardOutputFile(QDir::temp().filePath(QStringLiteral("call_in_bench_routers.log")));
    sim->setStandardErrorFile(QDir::temp().filePath(QStringLiteral("call_in_bench_routers.err")));
    sim->start(QStringLiteral(OSTRAND_METERSIM), arguments + kLog);
    return sim;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int meters = argc > 1 ? std::max(6, QString::fromLocal8Bit(argv[1]).toInt()) : 1000;
    QTemporaryDir dir;

    // One meter alone: its time from connect to collected.
    Listener alone;
    alone.start(writeStations(dir.path(), 1, "alone"), dir.path());
    QElapsedTimer timer;
    timer.start();
    auto one = startRouters(alone.port, 1, 0);
    alone.waitForOk(1, 60000);
    const double aloneSeconds = timer.elapsed() / 1000.0;
    alone.stop();
    one->terminate();
    one->waitForFinished();

    Listener fleet;
    fleet.start(writeStations(dir.path(), meters, "fleet"), dir.path());
    timer.restart();
    std::vector<std::unique_ptr<QProcess>> routers;
    routers.push_back(startRouters(fleet.port, meters, 60));
    const int collected = fleet.waitForOk(meters, 600000);
    const double seconds = timer.elapsed() / 1000.0;
    long routersKb = 0;
    QFile routerStatus(QStringLiteral("/proc/%1/status").arg(routers.front()->processId()));
    if (routerStatus.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : routerStatus.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                routersKb = line.mid(6).trimmed().split(' ').first().toLong();
        }
    }
    fleet.stop();
    for (auto &router : routers)
        router->terminate();
    for (auto &router : routers)
        router->waitForFinished(5000);

    // A sample of stations against the same meter downloaded alone.
    int matching = 0;
    const int sample[] = {1, 2, 3, 4, meters / 2, meters};
    for (const int k : sample) {
        QProcess sim;
        const QString link = dir.filePath(QStringLiteral("direct%1").arg(k));
        sim.start(QStringLiteral(OSTRAND_METERSIM), QStringList{"--link", link, "--meter-number", QString::number(k)} + kLog);
        sim.waitForReadyRead(10000);
        const QString direct = dir.filePath(QStringLiteral("direct%1.csv").arg(k));
        QProcess::execute(QStringLiteral(OSTRAND_CLI), {"download", "--port", link, "--output", direct});
        sim.terminate();
        sim.waitForFinished();
        QFile a(direct), b(dir.filePath(QStringLiteral("fleet/m%1.csv").arg(k, 4, 10, QLatin1Char('0'))));
        if (a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.readAll() == b.readAll())
            ++matching;
    }
    const double goal = 1.2 * (aloneSeconds + 60);
    std::printf("one meter alone:  %.1f s from its connect to collected\n", aloneSeconds);
    std::printf("%d meters:      %d collected in %.1f s (goal %.1f s: %s)\n", meters, collected, seconds, goal,
                collected == meters && seconds <= goal ? "met" : "missed");
    std::printf("listener peak:    %ld MB resident, %d threads\n", fleet.peakKb / 1024, fleet.peakThreads);
    std::printf("simulated routers: %ld MB resident at their peak\n", routersKb / 1024);
    std::printf("sampled stations: %d of %zu as a direct download of the same meter\n", matching, std::size(sample));
    return collected == meters && matching == int(std::size(sample)) ? 0 : 1;
}
