#include "com_port_names.h"

#include <QDir>
#include <QFileInfo>

namespace ostrand {
namespace {

QString comName(int portNumber)
{
    return QStringLiteral("COM%1").arg(portNumber);
}

// QFileInfo::exists() follows links, so a link to an unplugged adapter would
// look absent and we would silently fall back to a different device.
bool linkOrFilePresent(const QFileInfo &info)
{
    return info.exists() || info.isSymLink();
}

QString systemDeviceName(int portNumber)
{
#ifdef Q_OS_WIN
    return comName(portNumber);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

} // namespace

QString resolveComDevice(const QString &programDir, int portNumber)
{
    if (portNumber < 1)
        return QString();
    const QFileInfo link(QDir(programDir).filePath(comName(portNumber)));
    if (linkOrFilePresent(link)) {
        // A dangling link keeps its own path, so the open error names what the user set up.
        const QString target = link.canonicalFilePath();
        return target.isEmpty() ? link.filePath() : target;
    }
    return systemDeviceName(portNumber);
}

QString describeComDevice(const QString &programDir, int portNumber)
{
    if (portNumber < 1)
        return QStringLiteral("No COM port chosen");
    const QFileInfo link(QDir(programDir).filePath(comName(portNumber)));
    if (link.isSymLink() && link.canonicalFilePath().isEmpty())
        return QStringLiteral("%1 → %2 (missing)").arg(comName(portNumber), link.symLinkTarget());
    const QString device = resolveComDevice(programDir, portNumber);
    if (device == comName(portNumber))
        return device;
    return QStringLiteral("%1 → %2").arg(comName(portNumber), device);
}

} // namespace ostrand
