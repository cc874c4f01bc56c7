#include "ser2net_process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace ostrand::testing {

int freeTcpPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool Ser2NetProcess::start(const QString &device, Mode mode, int baud)
{
    const int port = freeTcpPort();
    const bool telnet = mode == Mode::Rfc2217;
    // ser2net 4's YAML: one connection, the accepter on loopback, the device
    // as a local line (no modem control lines to wait for).
    const QString config = QStringLiteral("connection: &meter\n"
                                          "  accepter: %1tcp,127.0.0.1,%2\n"
                                          "  connector: serialdev,%3,%4n81,local\n"
                                          "  options:\n"
                                          "    kickolduser: true\n")
                               .arg(telnet ? QStringLiteral("telnet(rfc2217),") : QString())
                               .arg(port)
                               .arg(device)
                               .arg(baud);
    const QString path = dir_.filePath(QStringLiteral("ser2net.yaml"));
    QFile file(path);
    if (port == 0 || !file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
        return false;
    file.close();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral("/usr/sbin/ser2net"),
                   {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"), path});
    if (!process_.waitForStarted(5000))
        return false;
    // Ready once it takes a connection; the probe's own is closed at once.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && process_.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
        if (probe.waitForConnected(200)) {
            probe.abort();
            address_ = QStringLiteral("%1://127.0.0.1:%2").arg(telnet ? "rfc2217" : "tcp").arg(port);
            return true;
        }
        QThread::msleep(50);
    }
    qWarning("ser2net did not start: %s", process_.readAll().constData());
    return false;
}

void Ser2NetProcess::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(1000);
    }
}

Ser2NetProcess::~Ser2NetProcess()
{
    stop();
}

} // namespace ostrand::testing
