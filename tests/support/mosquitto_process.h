#pragma once

#include <QByteArray>
#include <QFile>
#include <QThread>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace ostrand::testing {

// Debian's mosquitto for one test on 127.0.0.1, on a free port, from a
// configuration the test writes: anonymous, or a password file made with
// mosquitto_passwd, and a TLS listener with a CA and a server certificate
// made with openssl. Stopped with the object.
struct MosquittoOptions {
    QString user;     // with a password: the only login taken
    QString password;
    bool tls = false; // a second listener, TLS, with a certificate for 127.0.0.1
};

class MosquittoProcess {
public:
    using Options = MosquittoOptions;
    ~MosquittoProcess();
    bool start(const Options &options = {});
    void stop();           // SIGTERM, then waits
    void kill();           // SIGKILL: gone mid-way, as a crash or a power cut
    bool restart();        // the same configuration and ports again
    QString problem() const { return problem_; }

    int port() const { return port_; }
    int tlsPort() const { return tlsPort_; }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port_); }
    QString tlsUrl() const { return QStringLiteral("mqtts://127.0.0.1:%1").arg(tlsPort_); }
    QString caFile() const { return dir_.filePath(QStringLiteral("ca.pem")); }
    QString folder() const { return dir_.path(); }

private:
    bool run(const QString &program, const QStringList &arguments);
    bool makeCertificates();
    bool launch();

    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
    int tlsPort_ = 0;
    QString problem_;
};

// mosquitto_sub on `topic` at QoS 1, every message kept as topic and payload.
class MqttSubscriber {
public:
    ~MqttSubscriber();
    // Subscribes and returns once a probe published on the same broker has come back.
    bool start(int port, const QString &topic = QStringLiteral("flow/#"), const QString &user = {},
               const QString &password = {});
    void stop();
    struct Message {
        QString topic;
        QByteArray payload;
    };
    // Waits up to `timeoutMs` for messages to come in until `done` says enough.
    template <typename Done> bool waitUntil(Done done, int timeoutMs)
    {
        for (int waited = 0; waited <= timeoutMs; waited += 50) {
            read();
            if (done(messages_))
                return true;
            QThread::msleep(50);
        }
        read();
        return done(messages_);
    }
    // Reads what has come; the probes left out.
    const std::vector<Message> &messages()
    {
        read();
        return messages_;
    }

private:
    void read();
    // mosquitto_sub writes to a file, never to a pipe: a test busy elsewhere
    // must not stop it taking messages, or the broker would hold them for it.
    QTemporaryDir dir_;
    QFile output_;
    QProcess process_;
    QByteArray partial_;
    std::vector<Message> messages_;
    bool probed_ = false;
};

} // namespace ostrand::testing
