#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace ostrand {
class DownloadDisplay;
}

namespace ostrand::collect {

// The most a cumulative file may hold: a year of one-minute logging on eight
// channels is about 60 MB, and the whole file is held in memory several times
// over while rows are added.
constexpr qint64 kMaxCumulativeBytes = qint64(1) << 30;

// What is wrong with `path` as a station's cumulative file, or an empty text:
// a symbolic link (a scheduled run, often root, would read and replace what it
// points to), anything but a regular file (a pipe blocks the read, a device
// never ends), or a file in a folder any user may write (another user's, or a
// shared one like /tmp), where a link or a file can be planted between runs.
QString stationOutputProblem(const QString &path);

// stationOutputProblem, then the check every output gets, before the meter is
// asked; shows "Error putting into file!!" with the reason when refused.
bool checkStationOutputBeforeStart(const QString &path, DownloadDisplay &display);

// Reads a station's cumulative file, refusing what stationOutputProblem
// refuses (checked on the open file, so a name swapped since is caught) and a
// file over kMaxCumulativeBytes; false with *error naming the file and why.
bool readCumulativeFile(const QString &path, QByteArray *bytes, QString *error);

// Keeps `bytes`, the old content of `path`, under the first free of its
// archived names for `when` (the plain one, then -2, -3, ...). The archive is
// created exclusively, so it never replaces a file, not even one another run
// made in the same second, and carries the permission bits of `path`.
bool saveArchive(const QString &path, const QDateTime &when, const QByteArray &bytes, QString *error);

// The station's new file, after stationOutputProblem is asked again.
bool saveCumulativeFile(const QString &path, const QByteArray &bytes, QString *error);

} // namespace ostrand::collect
