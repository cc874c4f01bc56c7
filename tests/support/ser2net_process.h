#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace ostrand::testing {

// Debian's ser2net in front of a serial device, on 127.0.0.1 and a free port,
// with a configuration of the test's own; stopped on destruction.
class Ser2NetProcess {
public:
    enum class Mode { RawTcp, Rfc2217 };

    // Serves `device` (opened at `baud` 8N1 until a client sets another speed)
    // in `mode`; false when ser2net did not start listening.
    bool start(const QString &device, Mode mode, int baud = 9600);
    ~Ser2NetProcess();

    // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT", for --port.
    QString address() const { return address_; }
    void stop();

private:
    QTemporaryDir dir_;
    QProcess process_;
    QString address_;
};

// A TCP port on 127.0.0.1 that nothing listens on at the moment.
int freeTcpPort();

} // namespace ostrand::testing
