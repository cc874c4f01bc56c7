#pragma once

#include "palm/palm_log_record.h"

#include <QByteArray>
#include <QString>
#include <memory>

class QFile;
class QIODevice;

namespace ostrand {

namespace palm_result {
// An existing file that cannot be opened or read to its end: unlike "missing"
// (2) or "no records" (1), its contents are unknown, so nothing may be concluded.
constexpr qint16 kPalmFileUnreadable = 3;
} // namespace palm_result

// Reads the handheld's database file: finds the first log record by its sync
// pair and hands out 32-byte records back to back up to the end of the file.
// Call OpenPalmLog, FindFirstRecord, ReadNextRecord until false, ClosePalmLog.
class PalmLogReader {
public:
    static constexpr qint64 kDefaultBlockSize = 256 * 1024;

    // `blockSize` bytes are read per call to the device (at least 1).
    explicit PalmLogReader(qint64 blockSize = kDefaultBlockSize);
    ~PalmLogReader();
    PalmLogReader(const PalmLogReader &) = delete;
    PalmLogReader &operator=(const PalmLogReader &) = delete;

    // Opens the file at `path`: 0, 2 when no file exists there, kPalmFileUnreadable
    // when one exists but cannot be opened (a folder, no permission).
    qint16 OpenPalmLog(const QString &path);
    // Reads from `device` (not owned), opening it read-only when it is closed:
    // 0, or kPalmFileUnreadable when it cannot be read.
    qint16 OpenPalmLog(QIODevice &device);
    // Leaves the read position on the 0xAA of the first sync pair, wherever it
    // lies; false when there is none or the file failed to read.
    bool FindFirstRecord();
    // The next 32 bytes, sync or not; false when no complete record remains.
    bool ReadNextRecord(PalmLogRecord &record);
    // Closes the file (or the device given to OpenPalmLog).
    void ClosePalmLog();

    // Whether a read failed since opening, so that "no more records" meant "unreadable".
    bool failed() const { return failed_; }

private:
    qint64 firstRecordOffset();
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
};

} // namespace ostrand
