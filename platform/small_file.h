#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand {

// How a file the program reads whole (a settings or stations file) stands.
enum class FileState {
    Missing,    // nothing of that name
    Regular,    // a regular file within the size allowed
    TooLarge,   // a regular file past the size allowed
    NotRegular, // a pipe, device, socket or folder: never opened (reading one may never end)
    Unreadable, // the system would not let us look at it or read it
};

struct FileCheck {
    FileState state = FileState::Missing;
    QString problem; // what is wrong, naming the file; empty for Regular
    bool ok() const { return state == FileState::Regular; }
};

// Looks at `path` without opening it.
FileCheck checkSmallFile(const QString &path, qint64 maxBytes);

struct SmallFile {
    FileCheck check;
    QByteArray bytes; // the whole file when check.ok()
};

// Whether a symbolic link is read through or refused (a file a scheduled
// run, often root, reads and replaces).
enum class Links { Follow, Refuse };

// Reads the whole of `path` when it is a regular file of at most `maxBytes`.
// The file is opened without blocking and looked at again once open, so a pipe
// put in its place between the look and the open is still refused; with
// Links::Refuse, so is a link (NotRegular).
SmallFile readSmallFile(const QString &path, qint64 maxBytes, Links links = Links::Follow);

struct FileTail {
    FileCheck check;    // TooLarge never: a larger file gives its tail
    QByteArray bytes;   // the last `maxBytes` of the file at most, when check.ok()
    qint64 skipped = 0; // the bytes before them, not read
};

// The last `maxBytes` of `path` when it is a regular file, of any size, for a
// file that only grows at its end and is read for its newest lines. Opened as
// readSmallFile opens, and a symbolic link is refused (ELOOP).
FileTail readFileTail(const QString &path, qint64 maxBytes);

// "64 KB", "1 MiB": a size limit as messages give it.
QString sizeText(qint64 bytes);

} // namespace ostrand
