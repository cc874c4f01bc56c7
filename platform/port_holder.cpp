#include "port_holder.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace ostrand {
namespace {

// Far more locks than a machine holds; a list past it is not read to its end.
constexpr qint64 kMaxLockListBytes = 1024 * 1024;
constexpr qint64 kMaxNameBytes = 4096;
const QString kWindowProgram = QStringLiteral("ostrand-download");

QByteArray readProcFile(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(maxBytes);
}

// The kernel keeps 15 characters of a name; the command line has it whole.
QString programName(qint64 pid)
{
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    const QString comm = QString::fromLocal8Bit(readProcFile(proc + QStringLiteral("comm"), kMaxNameBytes)).trimmed();
    const QByteArray cmdline = readProcFile(proc + QStringLiteral("cmdline"), kMaxNameBytes);
    const QString first = QFileInfo(QString::fromLocal8Bit(cmdline.left(cmdline.indexOf('\0')))).fileName();
    if (!comm.isEmpty() && first.startsWith(comm))
        return first;
    if (!comm.isEmpty() && kWindowProgram.startsWith(comm) && comm.size() == 15)
        return kWindowProgram;
    return comm;
}

} // namespace

std::optional<qint64> flockHolderIn(const QByteArray &line, const QByteArray &deviceId)
{
    // "1: FLOCK  ADVISORY  WRITE 4242 00:05:1033 0 EOF"; a waiter's line has "->" after its number.
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() < 6 || fields[1] != "FLOCK" || fields[5] != deviceId)
        return std::nullopt;
    bool ok = false;
    const qint64 pid = fields[4].toLongLong(&ok);
    return ok && pid > 0 ? std::optional<qint64>(pid) : std::nullopt;
}

std::optional<PortHolder> findPortHolder(const QString &device)
{
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0)
        return std::nullopt;
    const QByteArray deviceId = QByteArray::number(major(info.st_dev), 16).rightJustified(2, '0') + ':'
                                + QByteArray::number(minor(info.st_dev), 16).rightJustified(2, '0') + ':'
                                + QByteArray::number(quint64(info.st_ino));
    const QByteArray locks = readProcFile(QStringLiteral("/proc/locks"), kMaxLockListBytes);
    for (const QByteArray &line : locks.split('\n')) {
        if (const auto pid = flockHolderIn(line, deviceId))
            return PortHolder{*pid, programName(*pid)};
    }
    return std::nullopt;
}

QString portInUseReason(const QString &device)
{
    const auto holder = findPortHolder(device);
    if (!holder)
        return QStringLiteral("port in use by another program");
    // The window keeps the port between operations unless told to let it go.
    if (holder->program == kWindowProgram)
        return QStringLiteral("held by %1, process %2: close it or let it go when idle")
            .arg(kWindowProgram)
            .arg(holder->pid);
    if (holder->program.isEmpty())
        return QStringLiteral("port in use by another program (process %1)").arg(holder->pid);
    return QStringLiteral("port in use by another program (%1, process %2)").arg(holder->program).arg(holder->pid);
}

} // namespace ostrand
