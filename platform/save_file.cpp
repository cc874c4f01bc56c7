#include "save_file.h"

#include "system_reason.h"
#include "platform/kept_copy.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrand {
namespace {

enum class Destination { Replace, WriteInPlace, Refused };

struct DestinationCheck {
    Destination destination = Destination::Refused;
    QString problem;
};

DestinationCheck inspect(const QString &path)
{
    if (path.isEmpty())
        return {Destination::Refused, QStringLiteral("No output file name was given")};
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) == 0) {
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
            return {Destination::WriteInPlace, {}};
        if (S_ISDIR(st.st_mode))
            return {Destination::Refused,
                    QStringLiteral("%1 is a folder; give a file name for the output").arg(path)};
        if (!S_ISREG(st.st_mode))
            return {Destination::Refused,
                    QStringLiteral("%1 is not a regular file (a socket or a block device); "
                                   "choose another output file")
                        .arg(path)};
        // A superuser passes access(); the mode bits still say the owner
        // meant the file to stay as it is.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            return {Destination::Refused,
                    QStringLiteral("%1 is read-only; make it writable or choose another "
                                   "output file")
                        .arg(path)};
        if (::access(native.constData(), W_OK) != 0)
            return {Destination::Refused,
                    QStringLiteral("Cannot write %1: %2").arg(path, systemReason(errno))};
    } else if (errno != ENOENT) {
        return {Destination::Refused,
                QStringLiteral("Cannot write %1: %2").arg(path, systemReason(errno))};
    }

    // The temporary file and the rename need a folder we can write in.
    const QString folder = QFileInfo(path).absolutePath();
    const QByteArray nativeFolder = QFile::encodeName(folder);
    struct stat folderStat {};
    if (::stat(nativeFolder.constData(), &folderStat) != 0)
        return {Destination::Refused,
                QStringLiteral("Cannot write %1: the folder %2 does not exist (%3)")
                    .arg(path, folder, systemReason(errno))};
    if (!S_ISDIR(folderStat.st_mode))
        return {Destination::Refused,
                QStringLiteral("Cannot write %1: %2 is not a folder").arg(path, folder)};
    if (::access(nativeFolder.constData(), W_OK | X_OK) != 0)
        return {Destination::Refused,
                QStringLiteral("Cannot write %1: cannot create files in %2 (%3)")
                    .arg(path, folder, systemReason(errno))};
    return {Destination::Replace, {}};
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool replaceAtomically(const QString &path, const QByteArray &bytes, QString *error,
                       QString *keptAs = nullptr)
{
    // Qt 6.4's commit() ignores a failing flush of its buffer and renames a
    // truncated file over the old one; so every step is checked here and the
    // rename is only asked for once the bytes are known to be on disk.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        // QFileDevice reports a failed flush as "Unknown error"; errno knows better.
        const QString reason = errno != 0 ? systemReason(errno) : file.errorString();
        file.cancelWriting();
        return fail(error, QStringLiteral("Cannot write %1: %2").arg(path, reason));
    }
    if (::fsync(file.handle()) != 0 && errno != EINVAL) {
        const QString reason = systemReason(errno);
        file.cancelWriting();
        return fail(error, QStringLiteral("Cannot write %1: %2").arg(path, reason));
    }
    QString kept;
    if (keptAs) {
        QString problem;
        if (!keepPreviousFile(path, &kept, &problem)) {
            file.cancelWriting();
            return fail(error, problem);
        }
    }
    if (!file.commit()) {
        if (!kept.isEmpty())
            ::unlink(QFile::encodeName(kept).constData());
        return fail(error, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    }
    if (keptAs)
        *keptAs = kept;
    return true;
}

// Write ends of pipes the early check opened, kept until the write: closed in
// between, a reader already waiting on the pipe would take it for the end.
std::mutex heldPipesMutex;
QHash<QString, int> heldPipes;

int takeHeldPipe(const QString &path)
{
    const std::lock_guard<std::mutex> lock(heldPipesMutex);
    return heldPipes.take(path) - 1; // stored one up, so a missing entry reads -1
}

// Opened without waiting: a pipe nobody reads would otherwise block the open for
// ever, or the write once its buffer filled. Writes then wait as usual for the reader.
int openWriteEnd(const QString &path, QString *problem)
{
    int fd = takeHeldPipe(path);
    if (fd < 0)
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *problem = errno == ENXIO ? QStringLiteral("Cannot write %1: no program is reading the pipe").arg(path)
                                  : QStringLiteral("Cannot write %1: %2").arg(path, systemReason(errno));
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

QString holdPipe(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISFIFO(st.st_mode))
        return {};
    QString problem;
    const int fd = openWriteEnd(path, &problem);
    if (fd >= 0) {
        const std::lock_guard<std::mutex> lock(heldPipesMutex);
        heldPipes.insert(path, fd + 1);
    }
    return problem;
}

bool writeInPlace(const QString &path, const QByteArray &bytes, QString *error)
{
    QString problem;
    const int fd = openWriteEnd(path, &problem);
    if (fd < 0)
        return fail(error, problem);
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, at, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            const QString reason = systemReason(errno);
            ::close(fd);
            return fail(error, QStringLiteral("Cannot write %1: %2").arg(path, reason));
        }
        at += written;
        left -= written;
    }
    if (::close(fd) != 0 && errno != EINTR)
        return fail(error, QStringLiteral("Cannot write %1: %2").arg(path, systemReason(errno)));
    return true;
}

} // namespace

QString outputPathProblem(const QString &path)
{
    const DestinationCheck check = inspect(path);
    return check.destination == Destination::WriteInPlace ? holdPipe(path) : check.problem;
}

bool writesInPlace(const QString &path)
{
    return inspect(path).destination == Destination::WriteInPlace;
}

void releaseOutput(const QString &path)
{
    const int fd = takeHeldPipe(path);
    if (fd >= 0)
        ::close(fd);
}

bool saveFile(const QString &path, const QByteArray &bytes, QString *error)
{
    // Checked again at the write: the file system may have changed since the
    // caller's early check.
    const DestinationCheck check = inspect(path);
    switch (check.destination) {
    case Destination::Refused: return fail(error, check.problem);
    case Destination::WriteInPlace: return writeInPlace(path, bytes, error);
    case Destination::Replace: break;
    }
    return replaceAtomically(path, bytes, error);
}

bool saveFileKeepingPrevious(const QString &path, const QByteArray &bytes, QString *keptAs, QString *error)
{
    QString kept;
    const DestinationCheck check = inspect(path);
    bool saved = false;
    switch (check.destination) {
    case Destination::Refused: saved = fail(error, check.problem); break;
    // What went into a pipe or a device is gone already: nothing to keep.
    case Destination::WriteInPlace: saved = writeInPlace(path, bytes, error); break;
    case Destination::Replace: saved = replaceAtomically(path, bytes, error, &kept); break;
    }
    if (keptAs)
        *keptAs = kept;
    return saved;
}

} // namespace ostrand
