#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand {

// Replaces `path` with `bytes` through a temporary file in the same folder and
// a rename, so a failure or a kill part-way leaves the old file or the new one,
// never a truncated mix. On failure returns false and sets *error (if given).
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);

} // namespace ostrand
