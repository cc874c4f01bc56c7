#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand {

// Reads from `fd` whatever comes within `timeoutMs`, up to `count` bytes. A hang-up ends the
// read when `stopOnHangUp`; otherwise it waits on, for a device that may be opened again.
QByteArray readFor(int fd, int count, int timeoutMs, bool stopOnHangUp = false);

// A pseudo-terminal standing in for a serial cable: the code under test opens the slave path, the test uses the master end.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return master_ >= 0; }
    // The slave device path, e.g. /dev/pts/3.
    QString slavePath() const { return slavePath_; }
    // Writes `bytes` as if the meter sent them.
    bool write(const QByteArray &bytes);
    // Reads whatever has come through within `timeoutMs`, up to `count` bytes.
    QByteArray read(int count, int timeoutMs);
    // Hangs up the master end, as a pulled adapter does to the slave.
    void hangUp();

private:
    int master_ = -1;
    QString slavePath_;
};

} // namespace ostrand
