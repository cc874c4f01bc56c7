#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand {

// What is wrong with `path` as the place for a file the program writes, or an
// empty text when it can take one. Asked before a download or a conversion, so
// that a bad name is refused before the meter or the handheld's file is read.
// A pipe is opened here without waiting, refused when no program reads it,
// and its write end kept for saveFile, so the reader is not handed an end of
// file in between.
QString outputPathProblem(const QString &path);

// Whether saveFile writes `path` in place (a pipe or a character device):
// what was written there cannot be read back or replaced.
bool writesInPlace(const QString &path);

// Lets go of a pipe kept by outputPathProblem when nothing is to be written after all.
void releaseOutput(const QString &path);

// Puts `bytes` into the file at `path`. A regular file (or a new one) is
// replaced through a temporary file in the same folder, every write, the flush
// and the sync checked, and renamed only when all of them succeeded: a failure
// or a kill part-way leaves the old file or the new one, never a truncated mix.
// A pipe or character device (a script's FIFO, /dev/stdout) is written in
// place, since renaming over it would replace the node. Anything else, and a
// read-only file, is refused. On failure returns false and sets *error (if
// given) to what happened and the system's reason.
bool saveFile(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// As saveFile, but a regular file holding data is first kept beside it as
// `path`.N (keepPreviousFile), once the new bytes are on disk and just before
// they take its place; *keptAs (if given) names the copy, empty when nothing
// was kept (a new or empty file, a pipe, a device). A copy that cannot be
// made fails the save and leaves the file as it was; one made before a rename
// that then fails is removed again, the file being still there.
bool saveFileKeepingPrevious(const QString &path, const QByteArray &bytes, QString *keptAs,
                             QString *error = nullptr);

} // namespace ostrand
