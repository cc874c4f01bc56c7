#include "collection_lock.h"

#include "platform/system_reason.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrand::collect {
namespace {

// An absolute folder from the environment, empty when unset or relative (as the XDG rules say to ignore).
QString folderFromEnvironment(const char *name)
{
    const QString value = qEnvironmentVariable(name).section(u':', 0, 0);
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

bool ownedByUs(const QString &folder)
{
    struct stat st {};
    return ::stat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && st.st_uid == ::geteuid();
}

// `folder` made when missing and checked: ours, a real folder, and no one else may write in it.
QString privateFolderProblem(const QString &folder)
{
    const QByteArray native = QFile::encodeName(folder);
    QDir().mkpath(QFileInfo(folder).absolutePath());
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("Cannot make the lock folder %1: %2").arg(folder, systemReason(errno));
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        return QStringLiteral("Cannot use the lock folder %1: %2").arg(folder, systemReason(errno));
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("The lock folder %1 is not a folder (a link or a file); remove it").arg(folder);
    // Anyone else who may write there could plant the lock and stop the collection.
    if (st.st_uid != ::geteuid())
        return QStringLiteral("The lock folder %1 belongs to user %2, not to this user (%3); remove it")
            .arg(folder)
            .arg(st.st_uid)
            .arg(::geteuid());
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("The lock folder %1 may be written by others (mode %2); chmod 700 it")
            .arg(folder)
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

} // namespace

QString lockFolder(QString *error)
{
    QString folder = folderFromEnvironment("RUNTIME_DIRECTORY");
    if (folder.isEmpty()) {
        // sudo may keep another user's runtime folder in the environment: only ours will do.
        const QString runtime = folderFromEnvironment("XDG_RUNTIME_DIR");
        if (!runtime.isEmpty() && ownedByUs(runtime))
            folder = QDir(runtime).filePath(QStringLiteral("ostrand"));
    }
    if (folder.isEmpty()) {
        const QString state = folderFromEnvironment("XDG_STATE_HOME");
        folder = QDir(state.isEmpty() ? QDir::home().filePath(QStringLiteral(".local/state")) : state)
                     .filePath(QStringLiteral("ostrand"));
    }
    *error = privateFolderProblem(folder);
    return error->isEmpty() ? folder : QString();
}

CollectionLock::CollectionLock(const QString &stationsPath, const QString &station)
{
    const QString folder = lockFolder(&error_);
    if (folder.isEmpty())
        return;
    // Two names for one stations file are one collection.
    QString real = QFileInfo(stationsPath).canonicalFilePath();
    if (real.isEmpty())
        real = QFileInfo(stationsPath).absoluteFilePath();
    path_ = QDir(folder).filePath(
        QStringLiteral("collect-%1.lock")
            .arg(QString::fromLatin1(QCryptographicHash::hash(real.toUtf8() + '\0' + station.toUtf8(),
                                                              QCryptographicHash::Sha256)
                                         .toHex()
                                         .left(32))));
    fd_ = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = QStringLiteral("Cannot open the lock file %1: %2").arg(path_, systemReason(errno));
        return;
    }
    int taken;
    do
        taken = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (taken != 0 && errno == EINTR);
    if (taken == 0) {
        state_ = State::Held;
    } else if (errno == EWOULDBLOCK) {
        state_ = State::Busy;
    } else {
        error_ = QStringLiteral("Cannot lock %1: %2").arg(path_, systemReason(errno));
    }
}

CollectionLock::~CollectionLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace ostrand::collect
