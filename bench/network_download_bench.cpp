// A full log (banks 8 to 23) downloaded through ser2net in raw TCP mode from
// ostrand-metersim pacing its replies at 38400 baud: ostrand-cli's wall time
// against the wire time of every byte the meter's trace shows, both ways.
// Run: BUILD/bench/network_download_bench [instants [direct]]   (default: a full log of 8 channels;
// "direct" downloads from the meter's pseudo-terminal instead, for the same measure without the server)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString instants = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("4092");
    QTemporaryDir dir;
    QProcess sim;
    // Into a file: a trace left in the pipe would fill it and stall the meter.
    sim.setStandardErrorFile(dir.filePath(QStringLiteral("meter.trace")));
    sim.start(QStringLiteral(OSTRAND_METERSIM), {"--link", dir.filePath("COM1"), "--baud", "38400", "--channels", "8",
                                                 "--records", instants, "--verbose"});
    while (sim.waitForReadyRead(10000) && !sim.readAllStandardOutput().contains("ready")) {
    }
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QFile config(dir.filePath(QStringLiteral("ser2net.yaml")));
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write(QStringLiteral("connection: &meter\n  accepter: tcp,127.0.0.1,%1\n"
                                "  connector: serialdev,%2,38400n81,local\n"
                                // A reply goes on as its bytes come: the wait ser2net otherwise
                                // adds to gather them costs every exchange a millisecond or more.
                                "  options:\n    chardelay: false\n")
                     .arg(port)
                     .arg(dir.filePath("COM1"))
                     .toUtf8());
    config.close();
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("/usr/sbin/ser2net"), {"-n", "-d", "-c", config.fileName()});
    QThread::msleep(500);

    QProcess cli;
    QElapsedTimer wall;
    wall.start();
    const bool direct = argc > 2 && QByteArray(argv[2]) == "direct";
    const QString where = direct ? dir.filePath("COM1") : QStringLiteral("tcp://127.0.0.1:%1").arg(port);
    cli.start(QStringLiteral(OSTRAND_CLI), {"download", "--port", where, "--output", dir.filePath("log.csv")});
    cli.waitForFinished(-1);
    const double seconds = wall.elapsed() / 1000.0;
    std::fputs(cli.readAllStandardOutput().constData(), stdout);
    server.terminate();
    server.waitForFinished(3000);
    sim.terminate();
    sim.waitForFinished(3000);

    qint64 bytes = 0;
    static const QRegularExpression frame(QStringLiteral("\\] (<-|->) ([0-9A-F ]+)$"),
                                          QRegularExpression::MultilineOption);
    QFile traceFile(dir.filePath(QStringLiteral("meter.trace")));
    const QString trace = traceFile.open(QIODevice::ReadOnly) ? QString::fromLatin1(traceFile.readAll()) : QString();
    for (auto it = frame.globalMatch(trace); it.hasNext();)
        bytes += it.next().captured(2).split(u' ', Qt::SkipEmptyParts).size();
    const double wire = bytes * 10.0 / 38400;
    std::printf("exit status: %d\n", cli.exitCode());
    std::printf("wire time:   %.2f s (%lld bytes both ways at 38400 baud)\n", wire, static_cast<long long>(bytes));
    std::printf("wall time:   %.2f s (%.3f x wire time)\n", seconds, seconds / wire);
    return cli.exitCode();
}
