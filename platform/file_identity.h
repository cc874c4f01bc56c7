#pragma once

#include <QString>

namespace ostrand {

// Whether two names lead to one file: through symbolic links, a linked folder,
// "..", or a second hard link. A file that exists is known by its device and
// inode; one not yet made by its real folder and its name (a dangling link by
// where it points), since that is the file writing either name would create.
bool sameFile(const QString &a, const QString &b);
// What sameFile compares, as one text: names whose keys are equal lead to one
// file. For checking many names against each other in one pass.
QString fileIdentityKey(const QString &path);

} // namespace ostrand
