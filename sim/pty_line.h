#pragma once

#include <QString>

namespace ostrand::sim {

// The meter's end of a pseudo-terminal pair: the program under test opens the slave
// device like a serial port, the simulator reads and writes the master.
class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    // Opens a new pair: non-blocking master, slave in raw mode (no echo, no translation)
    // so that a port opening it sees the bytes unchanged. False with `error` set on failure.
    bool open(QString *error);
    // Closes the pair; whoever has the slave open sees the line hang up.
    void close();

    // The master descriptor, -1 when closed.
    int masterFd() const { return master_; }
    // The slave device path, e.g. /dev/pts/4.
    QString slavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int heldSlave_ = -1;
    QString slavePath_;
};

// A symbolic link standing for the meter's port, e.g. BUILD/bin/COM1 -> /dev/pts/4.
class DeviceLink {
public:
    DeviceLink() = default;
    ~DeviceLink();
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    // Makes `linkPath` point at `target`, replacing an old symbolic link there (never a
    // file or directory). False with `error` set on failure.
    bool place(const QString &linkPath, const QString &target, QString *error);
    // Removes the link if it still points where this object put it.
    void remove();

private:
    QString path_;
    QString target_;
};

} // namespace ostrand::sim
