#pragma once

#include <QString>
#include <QStringList>

namespace ostrand {

// The device behind COM `portNumber`: a link (or file) named COMn in the first of
// `linkDirs` that has one wins, so a USB adapter can be given a COM number;
// otherwise the system's own name for that port. Empty when `portNumber` is not
// a port number (below 1), or when COMn had a link earlier in this process and
// it has gone (see vanishedComLink): the system's port of that number is
// another device, which the user never chose.
QString resolveComDevice(const QStringList &linkDirs, int portNumber);

// Where COMn's link led when last seen in this process, when it has gone since;
// empty when it is there or never was.
QString vanishedComLink(const QStringList &linkDirs, int portNumber);
// The operator's words for such a link: "COM1: its link to /dev/pts/3 is gone: adapter unplugged?"
QString vanishedComLinkText(int portNumber, const QString &target);

// One line for a tooltip telling which device COMn stands for, e.g. "COM1 → /dev/ttyUSB0".
QString describeComDevice(const QStringList &linkDirs, int portNumber);

// The same with links in one folder only, as a portable installation keeps them.
inline QString resolveComDevice(const QString &linkDir, int portNumber)
{
    return resolveComDevice(QStringList{linkDir}, portNumber);
}
inline QString describeComDevice(const QString &linkDir, int portNumber)
{
    return describeComDevice(QStringList{linkDir}, portNumber);
}

// Points COM `portNumber` at `device` by writing the COMn link in `programDir`.
// An earlier link is replaced in one step (a new link renamed over it), so a
// reader never finds COMn missing. Anything there that is not a link is left
// alone: someone put it there on purpose. False with *error set on failure.
bool linkComPort(const QString &programDir, int portNumber, const QString &device,
                 QString *error = nullptr);

} // namespace ostrand
