#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace ostrand::testing {

// ostrand-metersim on a pseudo-terminal for one test, stopped on destruction. Its stdout ("ready",
// "confirmed", "dropped") and stderr (the --verbose trace) are kept apart.
class MeterSimProcess {
public:
    // Starts the simulator with `arguments` plus --link <dir>/<linkName>; false if it never got ready.
    bool start(const QString &dir, const QStringList &arguments, const QString &linkName = QStringLiteral("COM1"));
    // The same with a link in a scratch folder of its own, and the trace switched on.
    bool start(const QStringList &arguments);
    ~MeterSimProcess();

    QString linkPath() const { return linkPath_; }
    // Lines the simulator printed so far ("confirmed", "dropped", ...), read without blocking.
    QStringList lines();
    int count(const QString &line) { return lines().count(line); }
    int confirmations() { return count(QStringLiteral("confirmed")); }
    // Keeps the caller's event loop turning until a line starting with `line` was printed `times` times.
    bool waitFor(const QString &line, int times = 1, int timeoutMs = 5000);
    // The request and reply trace so far (stderr; frames only with --verbose).
    QStringList trace();

    // Sends `request` on the raw link and reads until `replyBytes` came, a hang-up or `timeoutMs`.
    QByteArray exchange(const QByteArray &request, int replyBytes, int timeoutMs = 3000);
    // Terminates the simulator; its exit code, -1 when it had to be killed.
    int stop();
    qint64 processId() const { return process_.processId(); }

private:
    QProcess process_;
    QTemporaryDir ownDir_;
    QString linkPath_;
    QStringList lines_;
    QByteArray partial_;
    QStringList trace_;
    QByteArray partialTrace_;
};

} // namespace ostrand::testing
