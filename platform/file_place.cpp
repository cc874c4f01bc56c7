#include "file_place.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace ostrand {

QString notRegularFileText(const QString &path, mode_t mode, const QString &whose)
{
    const char *what = S_ISFIFO(mode) ? "a pipe" : S_ISCHR(mode) || S_ISBLK(mode) ? "a device" : "a socket";
    return QStringLiteral("%1 is %2; %3 must be a regular file").arg(path, QLatin1String(what), whose);
}

QString sharedFolderProblem(const QString &path, const QString &keep)
{
    const QString folder = QFileInfo(path).absolutePath();
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return {}; // the ordinary output check names a missing folder
    // Its sticky bit says so even when we own it, as root owns /tmp.
    if ((st.st_mode & S_IWOTH) == 0 || (st.st_uid == ::geteuid() && (st.st_mode & S_ISVTX) == 0))
        return {};
    return QStringLiteral("%1 is in %2, a folder any user may write (mode %3, owner %4); a link or file planted "
                          "there would be written; keep %5 in a folder of your own")
        .arg(path, folder)
        .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'))
        .arg(st.st_uid)
        .arg(keep);
}

} // namespace ostrand
