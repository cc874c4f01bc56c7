#include "com_port_names.h"

#include "system_reason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <mutex>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#endif

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

// The COMn entry of the first folder that has one; a null QFileInfo when none does.
QFileInfo comLink(const QStringList &linkDirs, int portNumber)
{
    for (const QString &dir : linkDirs) {
        const QFileInfo link(QDir(dir).filePath(comName(portNumber)));
        if (linkOrFilePresent(link))
            return link;
    }
    return QFileInfo();
}

// COMn links seen in this process, by the folders looked in and the number,
// with where each led: a link that goes away (an adapter pulled takes its udev
// link along) is then told apart from a COMn that never had one.
class SeenLinks {
public:
    void remember(const QString &key, const QString &target)
    {
        const std::lock_guard lock(mutex_);
        targets_.insert(key, target);
    }
    QString target(const QString &key) const
    {
        const std::lock_guard lock(mutex_);
        return targets_.value(key);
    }

private:
    mutable std::mutex mutex_;
    QHash<QString, QString> targets_;
};

SeenLinks &seenLinks()
{
    static SeenLinks links;
    return links;
}

QString seenKey(const QStringList &linkDirs, int portNumber)
{
    return linkDirs.join(QLatin1Char('\n')) + QLatin1Char('\n') + comName(portNumber);
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

QString resolveComDevice(const QStringList &linkDirs, int portNumber)
{
    if (portNumber < 1)
        return QString();
    const QFileInfo link = comLink(linkDirs, portNumber);
    if (!link.filePath().isEmpty()) {
        // A dangling link keeps its own path, so the open error names what the user set up.
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty())
            seenLinks().remember(seenKey(linkDirs, portNumber), target);
        else if (link.isSymLink())
            seenLinks().remember(seenKey(linkDirs, portNumber), link.symLinkTarget());
        return target.isEmpty() ? link.filePath() : target;
    }
    if (!seenLinks().target(seenKey(linkDirs, portNumber)).isEmpty())
        return QString();
    return systemDeviceName(portNumber);
}

QString vanishedComLink(const QStringList &linkDirs, int portNumber)
{
    if (portNumber < 1 || !comLink(linkDirs, portNumber).filePath().isEmpty())
        return QString();
    return seenLinks().target(seenKey(linkDirs, portNumber));
}

QString vanishedComLinkText(int portNumber, const QString &target)
{
    return QStringLiteral("%1: its link to %2 is gone: adapter unplugged?").arg(comName(portNumber), target);
}

QString describeComDevice(const QStringList &linkDirs, int portNumber)
{
    if (portNumber < 1)
        return QStringLiteral("No COM port chosen");
    const QFileInfo link = comLink(linkDirs, portNumber);
    if (link.isSymLink() && link.canonicalFilePath().isEmpty())
        return QStringLiteral("%1 → %2 (missing)").arg(comName(portNumber), link.symLinkTarget());
    if (const QString gone = vanishedComLink(linkDirs, portNumber); !gone.isEmpty())
        return QStringLiteral("%1 → %2 (link gone)").arg(comName(portNumber), gone);
    const QString device = resolveComDevice(linkDirs, portNumber);
    if (device == comName(portNumber))
        return device;
    return QStringLiteral("%1 → %2").arg(comName(portNumber), device);
}

bool linkComPort(const QString &programDir, int portNumber, const QString &device, QString *error)
{
    if (portNumber < 1) {
        setError(error, QStringLiteral("No COM port chosen"));
        return false;
    }
    if (device.isEmpty()) {
        setError(error, QStringLiteral("No device chosen for %1").arg(comName(portNumber)));
        return false;
    }
#ifdef Q_OS_WIN
    setError(error, QStringLiteral("COM ports are set up in the Device Manager on Windows"));
    return false;
#else
    const QDir dir(programDir);
    const QString linkPath = dir.filePath(comName(portNumber));
    const QFileInfo existing(linkPath);
    if (linkOrFilePresent(existing) && !existing.isSymLink()) {
        setError(error,
                 QStringLiteral("%1 is a %2, not a link to a device; it was left as it is. "
                                "Move it away to point %3 at a device here.")
                     .arg(QDir::toNativeSeparators(linkPath),
                          existing.isDir() ? QStringLiteral("folder") : QStringLiteral("file"),
                          comName(portNumber)));
        return false;
    }

    const QByteArray target = QFile::encodeName(device);
    QByteArray temporary;
    for (int attempt = 0;; ++attempt) {
        temporary = QFile::encodeName(dir.filePath(
            QStringLiteral(".%1.%2.%3.new").arg(comName(portNumber)).arg(::getpid()).arg(attempt)));
        if (::symlink(target.constData(), temporary.constData()) == 0)
            break;
        // Another attempt only for a leftover of the same name; anything else will not pass either.
        if (errno != EEXIST || attempt >= 20) {
            setError(error, QStringLiteral("Could not write a link in %1: %2")
                                .arg(QDir::toNativeSeparators(programDir),
                                     systemReason(errno)));
            return false;
        }
    }
    if (std::rename(temporary.constData(), QFile::encodeName(linkPath).constData()) != 0) {
        const int why = errno;
        ::unlink(temporary.constData());
        setError(error, QStringLiteral("Could not replace %1: %2")
                            .arg(QDir::toNativeSeparators(linkPath),
                                 systemReason(why)));
        return false;
    }
    return true;
#endif
}

} // namespace ostrand
