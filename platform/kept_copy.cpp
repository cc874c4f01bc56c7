#include "kept_copy.h"

#include "system_reason.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrand {
namespace {

QString keptName(const QString &path, int number)
{
    return path + QLatin1Char('.') + QString::number(number);
}

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

bool olderThan(const struct stat &a, const struct stat &b)
{
    if (a.st_mtim.tv_sec != b.st_mtim.tv_sec)
        return a.st_mtim.tv_sec < b.st_mtim.tv_sec;
    return a.st_mtim.tv_nsec < b.st_mtim.tv_nsec;
}

enum class Made { Yes, NameTaken, Failed };

// A copy of `from` at `to`, which must not exist yet: every byte written and
// synced, the mode and times of `from` given to it; removed again on failure.
Made copyExclusively(const QString &from, const QString &to, QString *reason)
{
    const int in = ::open(native(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *reason = systemReason(errno);
        return Made::Failed;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        *reason = systemReason(errno);
        ::close(in);
        return Made::Failed;
    }
    const mode_t mode = st.st_mode & 07777;
    const int out = ::open(native(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        *reason = systemReason(error);
        return error == EEXIST ? Made::NameTaken : Made::Failed;
    }
    int error = 0;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            const ssize_t put = ::write(out, buffer + done, size_t(got - done));
            if (put < 0 && errno != EINTR)
                error = errno;
            else if (put > 0)
                done += put;
        }
        if (error != 0)
            break;
    }
    // The umask would otherwise narrow the mode the file had.
    if (error == 0 && ::fchmod(out, mode) != 0)
        error = errno;
    if (error == 0 && ::fsync(out) != 0 && errno != EINVAL)
        error = errno;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (error == 0 && ::futimens(out, times) != 0)
        error = errno;
    if (::close(out) != 0 && error == 0 && errno != EINTR)
        error = errno;
    ::close(in);
    if (error != 0) {
        ::unlink(native(to).constData());
        *reason = systemReason(error);
        return Made::Failed;
    }
    return Made::Yes;
}

// `from`'s data under the new name `to`: a second link to it, which the
// rename that replaces `from` leaves holding the old data, or a copy where
// the file system has no links.
Made keepAs(const QString &from, const QString &to, QString *reason)
{
    if (::linkat(AT_FDCWD, native(from).constData(), AT_FDCWD, native(to).constData(),
                 AT_SYMLINK_FOLLOW) == 0)
        return Made::Yes;
    if (errno == EEXIST) {
        *reason = systemReason(errno);
        return Made::NameTaken;
    }
    return copyExclusively(from, to, reason);
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

bool copyFileAsNew(const QString &from, const QString &to, QString *error)
{
    QString reason;
    if (copyExclusively(from, to, &reason) == Made::Yes)
        return true;
    return fail(error, QStringLiteral("Cannot copy %1 to %2: %3").arg(from, to, reason));
}

QString nextKeptName(const QString &path, bool *replacesOldest)
{
    int oldest = 0;
    struct stat oldestStat {};
    for (int number = 1; number <= kKeptCopies; ++number) {
        struct stat st {};
        if (::lstat(native(keptName(path, number)).constData(), &st) != 0) {
            if (replacesOldest)
                *replacesOldest = false;
            return keptName(path, number);
        }
        // Only a file is ours to drop; a folder or a link someone put there is left alone.
        if (S_ISREG(st.st_mode) && (oldest == 0 || olderThan(st, oldestStat))) {
            oldest = number;
            oldestStat = st;
        }
    }
    if (replacesOldest)
        *replacesOldest = oldest != 0;
    return oldest != 0 ? keptName(path, oldest) : QString();
}

bool keepPreviousFile(const QString &path, QString *keptAs, QString *error)
{
    if (keptAs)
        keptAs->clear();
    struct stat st {};
    if (::stat(native(path).constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return true;

    // A name found free can be taken before we take it: then the next one is looked for.
    for (int attempt = 0; attempt < 3 * kKeptCopies; ++attempt) {
        bool replacesOldest = false;
        const QString target = nextKeptName(path, &replacesOldest);
        if (target.isEmpty())
            return fail(
                error, QStringLiteral("Cannot keep the previous %1: %2.1 to %2.%3 are all taken by "
                                      "things that are not files")
                           .arg(path, path)
                           .arg(kKeptCopies));
        QString reason;
        if (!replacesOldest) {
            const Made made = keepAs(path, target, &reason);
            if (made == Made::Yes) {
                if (keptAs)
                    *keptAs = target;
                return true;
            }
            if (made == Made::Failed)
                return fail(error, QStringLiteral("Cannot keep the previous %1 as %2: %3")
                                       .arg(path, target, reason));
            continue;
        }
        // Made under a name of its own first, so the oldest copy goes only
        // once the newer one is complete, and then in one rename.
        const QString staging = target + QStringLiteral(".new");
        const Made made = keepAs(path, staging, &reason);
        if (made == Made::NameTaken) {
            // Left by a run that was killed part-way: a copy of ours, not a kept one.
            if (::unlink(native(staging).constData()) != 0)
                return fail(error,
                            QStringLiteral("Cannot keep the previous %1: %2 is in the way (%3)")
                                .arg(path, staging, systemReason(errno)));
            continue;
        }
        if (made == Made::Failed)
            return fail(
                error,
                QStringLiteral("Cannot keep the previous %1 as %2: %3").arg(path, target, reason));
        if (::rename(native(staging).constData(), native(target).constData()) != 0) {
            const QString renameReason = systemReason(errno);
            ::unlink(native(staging).constData());
            return fail(error, QStringLiteral("Cannot keep the previous %1 as %2: %3")
                                   .arg(path, target, renameReason));
        }
        if (keptAs)
            *keptAs = target;
        return true;
    }
    return fail(error,
                QStringLiteral("Cannot keep the previous %1: the names %1.1 to %1.%2 kept changing")
                    .arg(path)
                    .arg(kKeptCopies));
}

} // namespace ostrand
