#include "small_file.h"

#include "system_reason.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrand {
namespace {

FileCheck judge(const QString &path, const struct stat &st, qint64 maxBytes)
{
    if (!S_ISREG(st.st_mode)) {
        const QString kind = S_ISDIR(st.st_mode)    ? QStringLiteral("a folder")
                             : S_ISFIFO(st.st_mode) ? QStringLiteral("a pipe")
                             : S_ISSOCK(st.st_mode) ? QStringLiteral("a socket")
                                                    : QStringLiteral("a device");
        return {FileState::NotRegular,
                QStringLiteral("%1 is not a regular file (%2)").arg(path, kind)};
    }
    if (st.st_size > maxBytes)
        return {FileState::TooLarge, QStringLiteral("%1 is larger than %2 (%3 bytes)")
                                         .arg(path, sizeText(maxBytes))
                                         .arg(qint64(st.st_size))};
    return {FileState::Regular, {}};
}

FileCheck unreadable(const QString &path, int error)
{
    return {FileState::Unreadable,
            QStringLiteral("%1 cannot be read: %2").arg(path, systemReason(error))};
}

// Fills `buffer` from `fd`, past the `from` bytes it holds, until it is full
// or the file ends; the count it then holds.
qint64 readInto(int fd, const QString &path, QByteArray &buffer, FileCheck *check, qint64 from = 0)
{
    qint64 total = from;
    while (total < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + total, size_t(buffer.size() - total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            *check = unreadable(path, errno);
        if (got <= 0)
            break;
        total += got;
    }
    return total;
}

} // namespace

QString sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QStringLiteral("%1 KB").arg(bytes / 1024);
    return QStringLiteral("%1 bytes").arg(bytes);
}

FileCheck checkSmallFile(const QString &path, qint64 maxBytes)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ENOENT)
            return {FileState::Missing, QStringLiteral("%1: no such file").arg(path)};
        return unreadable(path, errno);
    }
    return judge(path, st, maxBytes);
}

SmallFile readSmallFile(const QString &path, qint64 maxBytes, Links links)
{
    SmallFile file;
    const bool follow = links == Links::Follow;
    if (follow) {
        file.check = checkSmallFile(path, maxBytes);
        if (!file.check.ok())
            return file;
    }
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        file.check = errno == ENOENT ? FileCheck{FileState::Missing, QStringLiteral("%1: no such file").arg(path)}
                     : errno == ELOOP ? FileCheck{FileState::NotRegular, QStringLiteral("%1 is a symbolic link").arg(path)}
                                      : unreadable(path, errno);
        return file;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        file.check = unreadable(path, errno);
    else
        file.check = judge(path, st, maxBytes);
    // Room for what the file held when looked at, and one byte past it, which
    // tells a file that grew since; grown as it grows, up to one past the limit.
    QByteArray bytes;
    if (file.check.ok())
        bytes.resize(qsizetype(std::min<qint64>(qint64(st.st_size), maxBytes) + 1));
    qint64 total = 0;
    while (file.check.ok()) {
        total = readInto(fd, path, bytes, &file.check, total);
        if (total < bytes.size() || total > maxBytes)
            break;
        bytes.resize(qsizetype(std::min<qint64>(total * 2, maxBytes + 1)));
    }
    ::close(fd);
    if (file.check.ok() && total > maxBytes)
        file.check = {FileState::TooLarge,
                      QStringLiteral("%1 is larger than %2").arg(path, sizeText(maxBytes))};
    if (file.check.ok())
        file.bytes = bytes.left(total);
    return file;
}

FileTail readFileTail(const QString &path, qint64 maxBytes)
{
    FileTail tail;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        tail.check = errno == ENOENT ? FileCheck{FileState::Missing, QStringLiteral("%1: no such file").arg(path)}
                     : errno == ELOOP ? FileCheck{FileState::NotRegular, QStringLiteral("%1 is a symbolic link").arg(path)}
                                      : unreadable(path, errno);
        return tail;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        tail.check = unreadable(path, errno);
    else
        tail.check = judge(path, st, std::numeric_limits<qint64>::max());
    if (tail.check.ok()) {
        tail.skipped = std::max<qint64>(0, qint64(st.st_size) - maxBytes);
        if (tail.skipped > 0 && ::lseek(fd, off_t(tail.skipped), SEEK_SET) < 0)
            tail.check = unreadable(path, errno);
    }
    // A file that grows meanwhile gives the bytes it had; its new end is read next time.
    tail.bytes.resize(qsizetype(std::min<qint64>(qint64(st.st_size), maxBytes)));
    const qint64 total = tail.check.ok() ? readInto(fd, path, tail.bytes, &tail.check) : 0;
    ::close(fd);
    tail.bytes.resize(tail.check.ok() ? total : 0);
    return tail;
}

} // namespace ostrand
