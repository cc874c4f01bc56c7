#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace ostrand::testing {

// ostrand-metersim running for one test: started with a link in `dir`, stopped on destruction.
class MeterSimProcess {
public:
    // Starts the simulator with `arguments` plus --link <dir>/<linkName>; false if it never got ready.
    bool start(const QString &dir, const QStringList &arguments, const QString &linkName = QStringLiteral("COM1"));
    ~MeterSimProcess();

    QString linkPath() const { return linkPath_; }
    // Lines the simulator printed so far ("confirmed", "dropped", ...), read without blocking.
    QStringList lines();
    int count(const QString &line) { return lines().count(line); }

private:
    QProcess process_;
    QString linkPath_;
    QStringList lines_;
    QByteArray partial_;
};

} // namespace ostrand::testing
