#pragma once

#include <QString>

namespace ostrand {

// How many earlier versions of a file keepPreviousFile keeps beside it.
constexpr int kKeptCopies = 9;

// The name keepPreviousFile would give the data now at `path`: `path`.N, N
// the lowest of 1 to 9 that nothing is called; when all nine are taken, the
// oldest kept copy (by modification time, which a copy keeps from the file it
// was; the lower number first when equal), whose place it takes.
// *replacesOldest (if given) says which of the two it is. Empty when all nine
// names are taken by things that are not files.
QString nextKeptName(const QString &path, bool *replacesOldest = nullptr);

// A synced copy of `from` at the new name `to`, with `from`'s mode and times:
// how a file is kept where the file system has no hard links. False, with the
// reason in *error (if given), when `to` exists (it is left alone) or the copy
// fails (nothing is left at `to`).
bool copyFileAsNew(const QString &from, const QString &to, QString *error);

// Keeps the data of the regular, non-empty file at `path` as `path`.N (see
// nextKeptName) with its mode and modification time, before the file is
// replaced: a hard link where the file system has them, a synced copy
// otherwise. A kept copy is never written over, except the oldest when nine
// are kept. True with *keptAs (if given) the copy's path, or empty when there
// was nothing to keep (no file, an empty one, a pipe or a device); false with
// *error (if given) the copy's path and the system's reason.
bool keepPreviousFile(const QString &path, QString *keptAs, QString *error);

} // namespace ostrand
