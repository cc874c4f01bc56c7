#pragma once

#include <QString>
#include <sys/types.h>

namespace ostrand {

// "PATH is a pipe; WHOSE must be a regular file", for a file of `mode` that is
// neither a regular file nor a folder nor a link.
QString notRegularFileText(const QString &path, mode_t mode, const QString &whose);

// What is wrong with keeping `path` where it is: its folder any user may write
// (another user's, or a shared one like /tmp), where a link or a file can be
// planted between two runs of a scheduled job; an empty text when nothing is.
// `keep` names what should be kept in a folder of one's own.
QString sharedFolderProblem(const QString &path, const QString &keep);

} // namespace ostrand
