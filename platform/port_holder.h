#pragma once

#include <QString>
#include <optional>

namespace ostrand {

// The process holding a device's flock(), as the system lists it.
struct PortHolder {
    qint64 pid = 0;
    QString program; // its name ("ostrand-download"); empty when it could not be read
};

// Looks `device` up in the system's list of file locks; nothing when the list
// cannot be read, names no lock on it, or is not the size such a list has.
// Reads only a bounded amount of /proc, so it is safe to call at any refusal.
std::optional<PortHolder> findPortHolder(const QString &device);

// Why `device`, held by another program, cannot be opened: which program and
// what to do about it when the system says, else "port in use by another program".
QString portInUseReason(const QString &device);

// Reads one line of /proc/locks: the holder's PID when it is a granted flock()
// on the file with `deviceId` ("MAJ:MIN:INODE" as the list writes it).
std::optional<qint64> flockHolderIn(const QByteArray &line, const QByteArray &deviceId);

} // namespace ostrand
