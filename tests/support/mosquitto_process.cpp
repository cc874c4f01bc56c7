#include "mosquitto_process.h"

#include <QFile>
#include <QTcpServer>
#include <QThread>
#include <csignal>
#include <unistd.h>

namespace ostrand::testing {
namespace {

int freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

const QString kProbeTopic = QStringLiteral("probe/ready");

} // namespace

MosquittoProcess::~MosquittoProcess()
{
    stop();
}

bool MosquittoProcess::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(dir_.path());
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        problem_ = QStringLiteral("%1 %2 failed: %3").arg(program, arguments.join(u' '),
                                                            QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    return true;
}

bool MosquittoProcess::makeCertificates()
{
    const QString openssl = QStringLiteral("openssl");
    return run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
                         "-days", "2", "-subj", "/CN=ostrand test CA"})
        && run(openssl, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                         "-subj", "/CN=127.0.0.1"})
        && writeText(dir_.filePath("server.ext"), "subjectAltName = IP:127.0.0.1\n")
        && run(openssl, {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                         "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext"});
}

bool MosquittoProcess::start(const Options &options)
{
    if (!dir_.isValid()) {
        problem_ = QStringLiteral("no scratch folder");
        return false;
    }
    port_ = freePort();
    QByteArray config = "persistence false\nlog_dest stderr\nper_listener_settings false\n";
    // Run as root it would become the mosquitto user, who cannot read the test's private folder.
    if (::geteuid() == 0)
        config += "user root\n";
    config += "listener " + QByteArray::number(port_) + " 127.0.0.1\n";
    if (options.tls) {
        if (!makeCertificates())
            return false;
        tlsPort_ = freePort();
        config += "listener " + QByteArray::number(tlsPort_) + " 127.0.0.1\n";
        config += "cafile " + QFile::encodeName(caFile()) + "\n";
        config += "certfile " + QFile::encodeName(dir_.filePath("server.pem")) + "\n";
        config += "keyfile " + QFile::encodeName(dir_.filePath("server.key")) + "\n";
    }
    if (!options.user.isEmpty()) {
        const QString passwords = dir_.filePath(QStringLiteral("passwords"));
        if (!run(QStringLiteral("mosquitto_passwd"), {"-c", "-b", passwords, options.user, options.password}))
            return false;
        config += "allow_anonymous false\npassword_file " + QFile::encodeName(passwords) + "\n";
    } else {
        config += "allow_anonymous true\n";
    }
    if (!writeText(dir_.filePath("mosquitto.conf"), config)) {
        problem_ = QStringLiteral("the configuration could not be written");
        return false;
    }
    return launch();
}

bool MosquittoProcess::launch()
{
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(dir_.filePath(QStringLiteral("mosquitto.log")), QIODevice::Append);
    process_.start(QStringLiteral("/usr/sbin/mosquitto"), {"-c", dir_.filePath(QStringLiteral("mosquitto.conf"))});
    if (!process_.waitForStarted(5000)) {
        problem_ = QStringLiteral("mosquitto did not start: ") + process_.errorString();
        return false;
    }
    // Ready once its port takes a connection.
    for (int i = 0; i < 100; ++i) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, quint16(port_)))
            return true;
        probe.close();
        if (process_.state() != QProcess::Running)
            break;
        QThread::msleep(50);
    }
    QFile log(dir_.filePath(QStringLiteral("mosquitto.log")));
    log.open(QIODevice::ReadOnly);
    problem_ = QStringLiteral("mosquitto is not listening: ") + QString::fromLocal8Bit(log.readAll());
    return false;
}

void MosquittoProcess::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void MosquittoProcess::kill()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process_.processId()), SIGKILL);
    process_.waitForFinished(5000);
}

bool MosquittoProcess::restart()
{
    stop();
    return launch();
}

MqttSubscriber::~MqttSubscriber()
{
    stop();
}

bool MqttSubscriber::start(int port, const QString &topic, const QString &user, const QString &password)
{
    const QString outputPath = dir_.filePath(QStringLiteral("received"));
    process_.setStandardOutputFile(outputPath);
    output_.setFileName(outputPath);
    QStringList login;
    if (!user.isEmpty())
        login << "-u" << user << "-P" << password;
    process_.start(QStringLiteral("mosquitto_sub"), QStringList{"-h", "127.0.0.1", "-p", QString::number(port), "-q",
                                                                "1", "-F", "%t\\t%p", "-t", topic, "-t", kProbeTopic}
                                                        + login);
    if (!process_.waitForStarted(5000))
        return false;
    // Its subscription is in place once a message published after it comes back.
    for (int attempt = 0; attempt < 50 && !probed_; ++attempt) {
        QProcess::execute(QStringLiteral("mosquitto_pub"),
                          QStringList{"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1", "-t", kProbeTopic,
                                      "-m", "x"}
                              + login);
        QThread::msleep(100);
        read();
    }
    return probed_;
}

void MqttSubscriber::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    read();
    process_.terminate();
    process_.waitForFinished(5000);
    read();
}

void MqttSubscriber::read()
{
    if (!output_.isOpen() && !output_.open(QIODevice::ReadOnly))
        return;
    partial_ += output_.readAll();
    qsizetype end = 0;
    while ((end = partial_.indexOf('\n')) >= 0) {
        const QByteArray line = partial_.left(end);
        partial_.remove(0, end + 1);
        // Topic and payload apart by a tab: a station's name, and so its topic, may hold spaces.
        const qsizetype space = line.indexOf('\t');
        const QString topic = QString::fromUtf8(line.left(space));
        if (topic == kProbeTopic) {
            probed_ = true;
            continue;
        }
        messages_.push_back({topic, space < 0 ? QByteArray() : line.mid(space + 1)});
    }
}

} // namespace ostrand::testing
