#pragma once

#include "download/download_result.h"
#include "palm/palm_log_record.h"

#include <QByteArray>
#include <QString>
#include <memory>

class QFile;
class QIODevice;

namespace ostrand {

// Reads the handheld's database file: finds the first log record by its sync
// pair and hands out 32-byte records back to back up to the end of the file.
// Call open, findFirstRecord, readNextRecord until false, close.
class PalmLogReader {
public:
    static constexpr qint64 kDefaultBlockSize = 256 * 1024;

    // `blockSize` bytes are read per call to the device (at least 1).
    explicit PalmLogReader(qint64 blockSize = kDefaultBlockSize);
    ~PalmLogReader();
    PalmLogReader(const PalmLogReader &) = delete;
    PalmLogReader &operator=(const PalmLogReader &) = delete;

    // Opens the file at `path`: Complete, or PalmFileMissing when no regular file there can be read
    // (none at all, a folder, a device or pipe, no permission). Anything but a
    // regular file is refused before it is opened: a pipe would block the open
    // and a device like /dev/zero would never end.
    DownloadResult open(const QString &path);
    // Reads from `device` (not owned), opening it read-only when it is closed:
    // Complete, or PalmFileUnreadable when it cannot be read.
    DownloadResult open(QIODevice &device);
    // Leaves the read position on the 0xAA of the first sync pair, wherever it
    // lies; false when there is none or the file failed to read.
    bool findFirstRecord();
    // The next 32 bytes, sync or not; false when no complete record remains.
    bool readNextRecord(PalmLogRecord &record);
    // Closes the file (or the device given to open).
    void close();

    // Whether a read failed since opening, so that "no more records" meant "unreadable".
    bool failed() const { return failed_; }
    // Why the last open failed; empty after a successful one.
    QString errorString() const { return error_; }
    // Whether the file starts with a Palm database header whose record list
    // fits the file; also true when the device cannot be looked at ahead.
    bool looksLikeDatabase() const { return !header_.known || header_.database; }
    // After readNextRecord returned false: how many log records the file was
    // cut off before, counting one started at its end and those its record
    // list places beyond it (0 when the file is whole).
    int recordsCutOff() const;

private:
    // What the file's header says, read once when the file is opened.
    struct Header {
        bool known = false;     // the device could be read from its start
        bool database = false;  // a Palm database header and record list that hold together
        qint64 firstRecord = 0; // where its record list puts the first record
        qint64 declaredEnd = 0; // where its last record (one log record at least) would end
    };

    DownloadResult opened();
    void inspectHeader();
    bool seekTo(qint64 offset);
    bool fill();
    void reset();

    qint64 blockSize_;
    std::unique_ptr<QFile> file_;
    QIODevice *device_ = nullptr;
    QByteArray buffer_;
    qsizetype pos_ = 0; // next unread byte of buffer_
    qsizetype end_ = 0; // end of the bytes read into buffer_
    bool atEnd_ = false;
    bool failed_ = false;
    QString error_;
    Header header_;
    qint64 size_ = 0;
};

} // namespace ostrand
