#include "pty_line.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace ostrand::sim {

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

PtyLine::~PtyLine()
{
    close();
}

bool PtyLine::open(QString *error)
{
    close();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        *error = systemError("posix_openpt");
        return false;
    }
    const char *name = (grantpt(master) == 0 && unlockpt(master) == 0) ? ptsname(master) : nullptr;
    if (!name) {
        *error = systemError("grantpt/unlockpt/ptsname");
        ::close(master);
        return false;
    }
    const QString path = QString::fromLocal8Bit(name);
    // Holding the slave open keeps the master from reporting a hang-up (and a poll loop
    // from spinning) while no program has the port open, and keeps the raw settings.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    if (slave < 0 || tcgetattr(slave, &tio) != 0) {
        *error = systemError("open slave");
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    master_ = master;
    heldSlave_ = slave;
    slavePath_ = path;
    return true;
}

void PtyLine::close()
{
    if (master_ >= 0)
        ::close(master_);
    if (heldSlave_ >= 0)
        ::close(heldSlave_);
    master_ = -1;
    heldSlave_ = -1;
}

DeviceLink::~DeviceLink()
{
    remove();
}

bool DeviceLink::place(const QString &linkPath, const QString &target, QString *error)
{
    const QByteArray path = QFile::encodeName(linkPath);
    struct stat st {
    };
    if (lstat(path.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = QStringLiteral("%1 exists and is not a symbolic link; not replacing it")
                         .arg(linkPath);
            return false;
        }
        if (unlink(path.constData()) != 0) {
            *error = systemError("unlink old link");
            return false;
        }
    }
    if (symlink(QFile::encodeName(target).constData(), path.constData()) != 0) {
        *error = QStringLiteral("Cannot make link %1: %2")
                     .arg(linkPath, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    path_ = linkPath;
    target_ = target;
    return true;
}

void DeviceLink::remove()
{
    if (path_.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(path_);
    char buf[4096];
    const ssize_t n = readlink(path.constData(), buf, sizeof buf - 1);
    // A link someone re-pointed meanwhile is theirs now.
    if (n > 0 && QFile::decodeName(QByteArray(buf, int(n))) == target_)
        unlink(path.constData());
    path_.clear();
    target_.clear();
}

} // namespace ostrand::sim
