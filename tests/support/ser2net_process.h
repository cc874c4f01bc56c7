#pragma once

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

namespace ostrand::testing {

// A TCP port on 127.0.0.1 that nothing listens on at the moment.
inline int freeTcpPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// Debian's ser2net (4.x YAML) in front of `device` at `baud` 8N1, on 127.0.0.1
// and a free port, raw or as Telnet with RFC 2217; stopped on destruction.
class Ser2NetProcess {
public:
    bool start(const QString &device, bool rfc2217, int baud = 9600)
    {
        const int port = freeTcpPort();
        QFile config(dir_.filePath(QStringLiteral("ser2net.yaml")));
        // `local`: no modem control lines to wait for, as on a meter's cable.
        const QString yaml = QStringLiteral("connection: &meter\n  accepter: %1tcp,127.0.0.1,%2\n"
                                            "  connector: serialdev,%3,%4n81,local\n");
        if (port == 0 || !config.open(QIODevice::WriteOnly)
            || config.write(yaml.arg(rfc2217 ? "telnet(rfc2217)," : "").arg(port).arg(device).arg(baud).toUtf8()) < 0)
            return false;
        config.close();
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral("/usr/sbin/ser2net"), {"-n", "-d", "-c", config.fileName()});
        address_ = QStringLiteral("%1://127.0.0.1:%2").arg(rfc2217 ? "rfc2217" : "tcp").arg(port);
        // Ready once it takes a connection.
        for (int tries = 0; tries < 100 && process_.state() != QProcess::NotRunning; ++tries) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
            if (probe.waitForConnected(100))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    ~Ser2NetProcess()
    {
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill(), process_.waitForFinished(1000);
    }
    // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT", for --port.
    QString address() const { return address_; }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QString address_;
};

} // namespace ostrand::testing
