#include "output_guard.h"

#include "cumulative/cumulative_csv.h"
#include "download/download_outcome.h"
#include "download/download_display.h"
#include "platform/file_place.h"
#include "platform/save_file.h"
#include "platform/small_file.h"
#include "platform/system_reason.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrand::collect {
namespace {

// More names than any one second can need; past it something else is wrong.
constexpr int kMaxArchiveCounter = 1000;

QString notRegular(const QString &path, mode_t mode)
{
    return notRegularFileText(path, mode, QStringLiteral("a station's output"));
}

QString tooLarge(const QString &path, qint64 size)
{
    return QStringLiteral("%1 holds %2 bytes, more than a station's file may (1 GiB); move it aside")
        .arg(path)
        .arg(size);
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, at, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        at += written;
        left -= written;
    }
    return ::fsync(fd) == 0;
}

} // namespace

QString stationOutputProblem(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return QStringLiteral("%1 is a symbolic link; a station's output must be the file itself").arg(path);
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) // a folder gets the ordinary check's words
            return notRegular(path, st.st_mode);
        if (st.st_size > kMaxCumulativeBytes)
            return tooLarge(path, st.st_size);
    }
    return sharedFolderProblem(path, QStringLiteral("station files"));
}

bool checkStationOutputBeforeStart(const QString &path, DownloadDisplay &display)
{
    const QString problem = stationOutputProblem(path);
    if (problem.isEmpty())
        return checkOutputBeforeStart(path, display);
    display.setStatus(QStringLiteral("Error putting into file!!"));
    display.showDetail(problem);
    return false;
}

bool readCumulativeFile(const QString &path, QByteArray *bytes, QString *error)
{
    if (const QString problem = stationOutputProblem(path); !problem.isEmpty())
        return fail(error, problem);
    // A link or a pipe swapped in since the check is refused, not followed or waited on.
    SmallFile file = readSmallFile(path, kMaxCumulativeBytes, Links::Refuse);
    if (!file.check.ok()) {
        const QString problem = stationOutputProblem(path);
        return fail(error, problem.isEmpty() ? file.check.problem : problem);
    }
    *bytes = std::move(file.bytes);
    return true;
}

bool saveArchive(const QString &path, const QDateTime &when, const QByteArray &bytes, QString *error)
{
    struct stat original {};
    if (::stat(QFile::encodeName(path).constData(), &original) != 0)
        return fail(error, QStringLiteral("Cannot keep %1 aside: %2").arg(path, systemReason(errno)));
    for (int counter = 1; counter <= kMaxArchiveCounter; ++counter) {
        const QString name = archivedName(path, when, counter);
        const QByteArray native = QFile::encodeName(name);
        // Made private first: the original's bits are given once the file is ours.
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue; // taken by a file or a link, ours or not: never replaced
        if (fd < 0)
            return fail(error, QStringLiteral("Cannot write %1: %2").arg(name, systemReason(errno)));
        // Root keeps the owner too; the mode is what protects the rows, so a refusal here is no failure.
        if (::geteuid() == 0 && ::fchown(fd, original.st_uid, original.st_gid) != 0)
            errno = 0;
        bool written = ::fchmod(fd, original.st_mode & 07777) == 0 && writeAll(fd, bytes);
        int reason = errno;
        if (::close(fd) != 0 && written) {
            written = false;
            reason = errno;
        }
        if (written)
            return true;
        // A part-written archive is ours to remove; the original is still where it was.
        ::unlink(native.constData());
        return fail(error, QStringLiteral("Cannot write %1: %2").arg(name, systemReason(reason)));
    }
    return fail(error, QStringLiteral("Cannot keep %1 aside: %2 archived names for one second are all taken")
                           .arg(path)
                           .arg(kMaxArchiveCounter));
}

bool saveCumulativeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    if (const QString problem = stationOutputProblem(path); !problem.isEmpty())
        return fail(error, problem);
    return saveFile(path, bytes, error);
}

} // namespace ostrand::collect
