// Four stations on four simulated meters, each pacing its replies at 38400 baud, collected
// by one run of ostrand-cli collect: its wall time against the wire time of the slowest
// station (every byte each meter's trace shows, both ways, at 10 bits a byte).
// Run: BUILD/bench/collect_bench [instants of the largest log]   (default 1200, 8 channels)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int largest = argc > 1 ? std::max(4, QString::fromLocal8Bit(argv[1]).toInt()) : 1200;
    QTemporaryDir dir;
    QByteArray stations;
    std::vector<std::unique_ptr<QProcess>> sims;
    for (int i = 0; i < 4; ++i) {
        // Logs of different lengths, so the slowest station is plainly one of them.
        const QString name = QStringLiteral("meter%1").arg(i + 1);
        const QString instants = QString::number(largest * (4 - i) / 4);
        sims.push_back(std::make_unique<QProcess>());
        QProcess &sim = *sims.back();
        // Into a file: a trace left in the pipe would fill it and stall the meter.
        sim.setStandardErrorFile(dir.filePath(name + QStringLiteral(".trace")));
        sim.start(QStringLiteral(OSTRAND_METERSIM), {"--link", dir.filePath(name), "--baud", "38400", "--channels",
                                                     "8", "--records", instants, "--verbose"});
        while (sim.waitForReadyRead(10000) && !sim.readAllStandardOutput().contains("ready")) {
        }
        stations += QStringLiteral("[%1]\nport = %1\noutput = %1.csv\n").arg(name).toUtf8();
    }
    QFile file(dir.filePath("stations.ini"));
    if (!file.open(QIODevice::WriteOnly) || file.write(stations) != stations.size())
        return 1;
    file.close();

    QProcess cli;
    QElapsedTimer wall;
    wall.start();
    cli.start(QStringLiteral(OSTRAND_CLI), {"collect", "--stations", file.fileName()});
    cli.waitForFinished(-1);
    const double seconds = wall.elapsed() / 1000.0;
    std::fputs(cli.readAllStandardOutput().constData(), stdout);

    double slowest = 0;
    double sum = 0;
    static const QRegularExpression frame(QStringLiteral("\\] (<-|->) ([0-9A-F ]+)$"),
                                          QRegularExpression::MultilineOption);
    for (size_t i = 0; i < sims.size(); ++i) {
        sims[i]->terminate();
        sims[i]->waitForFinished(3000);
        qint64 bytes = 0;
        QFile traceFile(dir.filePath(QStringLiteral("meter%1.trace").arg(i + 1)));
        const QString trace = traceFile.open(QIODevice::ReadOnly) ? QString::fromLatin1(traceFile.readAll()) : QString();
        for (auto it = frame.globalMatch(trace); it.hasNext();)
            bytes += it.next().captured(2).split(u' ', Qt::SkipEmptyParts).size();
        const double wire = bytes * 10.0 / 38400;
        std::printf("station wire time: %.2f s (%lld bytes)\n", wire, static_cast<long long>(bytes));
        slowest = std::max(slowest, wire);
        sum += wire;
    }
    std::printf("exit status:       %d\n", cli.exitCode());
    std::printf("wall time:         %.2f s for four stations\n", seconds);
    std::printf("slowest station:   %.2f s of wire time (%.3f x); all four one after another: %.2f s\n", slowest,
                seconds / slowest, sum);
    return cli.exitCode();
}
