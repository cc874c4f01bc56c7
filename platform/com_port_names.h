#pragma once

#include <QString>

namespace ostrand {

// The device behind COM `portNumber`: a link (or file) named COMn in `programDir`
// wins, so a USB adapter can be given a COM number; otherwise the system's own
// name for that port. Empty when `portNumber` is not a port number (below 1).
QString resolveComDevice(const QString &programDir, int portNumber);

// One line for a tooltip telling which device COMn stands for, e.g. "COM1 → /dev/ttyUSB0".
QString describeComDevice(const QString &programDir, int portNumber);

} // namespace ostrand
